#include "KVXFoundation/KVXNSArrayAdditons.h"

#include <QSet>

namespace KVXNSArrayAdditons {
namespace {

bool isString(const QVariant& item) {
    return item.typeId() == QMetaType::QString;
}

QString joined(const QVariantList& array, bool quotes, const QString& separator) {
    QStringList items;
    items.reserve(array.size());
    for (const QVariant& item : array)
        items.append(quotes ? QLatin1Char('"') + item.toString() + QLatin1Char('"')
                            : item.toString());
    return items.join(separator);
}

QSet<QString> stringItems(const QVariantList& array) {
    QSet<QString> strings;
    for (const QVariant& item : array)
        if (isString(item)) strings.insert(item.toString());
    return strings;
}

}  // namespace

QString verticalListFromStringArrayWithQuotes(const QVariantList& array, bool quotes) {
    return joined(array, quotes, QStringLiteral("\n"));
}

QString horizontalListFromStringArrayWithQuotes(const QVariantList& array, bool quotes) {
    return joined(array, quotes, QStringLiteral(", "));
}

QStringList arrayByParsingVerticalList(const QString& text) {
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.isEmpty()) break;
        lines.append(line);
    }
    return lines;
}

QStringList arrayByParsingVerticalListAfterHeader(const QString& text) {
    QStringList lines = text.split(QLatin1Char('\n'));
    lines.removeFirst();
    QString rest;
    for (const QString& line : lines) rest += line + QLatin1Char('\n');
    return arrayByParsingVerticalList(rest);
}

QVariantList arrayByRemovingStringsFromArray(const QVariantList& array,
                                             const QVariantList& strings) {
    const QSet<QString> removed = stringItems(strings);
    QVariantList kept;
    for (const QVariant& item : array)
        if (!isString(item) || !removed.contains(item.toString())) kept.append(item);
    return kept;
}

QVariantList arrayByAddingStringsFromArrayWithoutDuplicates(const QVariantList& array,
                                                            const QVariantList& strings) {
    QSet<QString> present = stringItems(array);
    QVariantList result = array;
    for (const QVariant& item : strings) {
        if (!isString(item) || present.contains(item.toString())) continue;
        present.insert(item.toString());
        result.append(item);
    }
    return result;
}

bool containsString(const QVariantList& array, const QString& string) {
    for (const QVariant& item : array)
        if (isString(item) && item.toString() == string) return true;
    return false;
}

}  // namespace KVXNSArrayAdditons
