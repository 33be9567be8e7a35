#include "app/format.h"

#include <QByteArray>
#include <QDateTime>
#include <QTimeZone>

namespace app {
namespace {

bool isIntegerConversion(QChar c) {
    return c == 'd' || c == 'i' || c == 'u';
}

QString integerText(const QVariant& value) {
    if (!value.isValid()) return QStringLiteral("0");
    if (value.typeId() == QMetaType::ULongLong || value.typeId() == QMetaType::ULong ||
        value.typeId() == QMetaType::UInt)
        return QString::number(value.toULongLong());
    return QString::number(value.toLongLong());
}

// Strings in descriptions are quoted when they hold anything but letters,
// digits and a few marks, as the old-style property-list form does.
QString quotedIfNeeded(const QString& s) {
    if (s.isEmpty()) return QStringLiteral("\"\"");
    bool plain = true;
    for (QChar c : s)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != '_' && c != '.' && c != '$' &&
            c != '/' && c != ':' && c != '-')
            plain = false;
    if (plain) return s;
    QString out = QStringLiteral("\"");
    for (QChar c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += QStringLiteral("\\n");
            continue;
        }
        out += c;
    }
    return out + '"';
}

QString describe(const QVariant& value, int depth, bool nested) {
    const QString indent(4 * depth, ' ');
    const QString inner(4 * (depth + 1), ' ');
    switch (value.typeId()) {
        case QMetaType::UnknownType:
            return QStringLiteral("(null)");
        case QMetaType::QString:
            return nested ? quotedIfNeeded(value.toString()) : value.toString();
        case QMetaType::Bool:
            return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
        case QMetaType::QDateTime: {
            const QString text = value.toDateTime()
                                     .toTimeZone(QTimeZone::utc())
                                     .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                                 QStringLiteral(" +0000");
            return nested ? quotedIfNeeded(text) : text;
        }
        case QMetaType::QByteArray:
            return '<' + QString::fromLatin1(value.toByteArray().toHex()) + '>';
        case QMetaType::QVariantList:
        case QMetaType::QStringList: {
            const QVariantList list = value.toList();
            if (list.isEmpty()) return QStringLiteral("(\n") + indent + ')';
            QString out = QStringLiteral("(\n");
            for (qsizetype i = 0; i < list.size(); ++i) {
                out += inner + describe(list[i], depth + 1, true);
                out += i + 1 < list.size() ? QStringLiteral(",\n") : QStringLiteral("\n");
            }
            return out + indent + ')';
        }
        case QMetaType::QVariantMap: {
            const QVariantMap map = value.toMap();
            QString out = QStringLiteral("{\n");
            for (auto it = map.begin(); it != map.end(); ++it)
                out += inner + quotedIfNeeded(it.key()) + QStringLiteral(" = ") +
                       describe(it.value(), depth + 1, true) + QStringLiteral(";\n");
            return out + indent + '}';
        }
        case QMetaType::Double:
        case QMetaType::Float:
            return QString::number(value.toDouble(), 'g', 17);
        default:
            return value.toString();
    }
}

}  // namespace

QString description(const QVariant& value) {
    return describe(value, 0, false);
}

QString escapedForFormat(const QString& text) {
    QString out = text;
    out.replace('%', QStringLiteral("%%"));
    return out;
}

QString format(const QString& fmt, const QVariantList& arguments) {
    QString out;
    out.reserve(fmt.size());
    qsizetype next = 0;
    auto take = [&]() { return next < arguments.size() ? arguments[next++] : QVariant(); };
    for (qsizetype i = 0; i < fmt.size(); ++i) {
        const QChar c = fmt[i];
        if (c != '%' || i + 1 >= fmt.size()) {
            out += c;
            continue;
        }
        const QChar d = fmt[i + 1];
        if (d == '%') {
            out += '%';
            ++i;
        } else if (d == '@') {
            out += description(take());
            ++i;
        } else if (d == 's') {
            QVariant v = take();
            out += v.isValid() ? v.toString() : QStringLiteral("(null)");
            ++i;
        } else {
            // Optional size prefix, then an integer conversion.
            qsizetype j = i + 1;
            while (j < fmt.size() && j < i + 3 && (fmt[j] == 'l' || fmt[j] == 'q' || fmt[j] == 'z'))
                ++j;
            if (j < fmt.size() && isIntegerConversion(fmt[j])) {
                out += integerText(take());
                i = j;
            } else {
                out += c;
            }
        }
    }
    return out;
}

}  // namespace app
