#include "requestbuilder.h"

#include <QFile>
#include <QMap>
#include <QRegularExpression>

#include "app/plistbridge.h"
#include "plist/plist.h"

namespace varno {

namespace {

std::optional<QVariant> readPlistFile(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    plist::ParseError parseError;
    auto value = plist::parse(std::string_view(bytes.constData(), bytes.size()), &parseError);
    if (!value) {
        *error = QStringLiteral("%1 is no property list: %2")
                     .arg(path, QString::fromStdString(parseError.message));
        return std::nullopt;
    }
    return app::variantFromPlist(*value);
}

// Splits at commas that are not escaped as "\,".
QStringList splitList(const QString& text) {
    QStringList parts;
    QString current;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\\' && i + 1 < text.size() && text[i + 1] == u',') {
            current += u',';
            ++i;
        } else if (text[i] == u',') {
            parts << current;
            current.clear();
        } else {
            current += text[i];
        }
    }
    parts << current;
    return parts;
}

QString unescapeCommas(QString text) {
    return text.replace(QStringLiteral("\\,"), QStringLiteral(","));
}

std::optional<bool> parseBoolean(const QString& text) {
    if (text == u"true" || text == u"yes" || text == u"1") return true;
    if (text == u"false" || text == u"no" || text == u"0") return false;
    return std::nullopt;
}

std::optional<qlonglong> parseInteger(const QString& text) {
    bool ok = false;
    qlonglong v = text.toLongLong(&ok, 0);  // decimal, or 0x hexadecimal
    if (!ok) return std::nullopt;
    return v;
}

// A value without a known type, by its look.
QVariant guessed(const QString& text) {
    if (text == u"true") return true;
    if (text == u"false") return false;
    static const QRegularExpression number(QStringLiteral("^-?[0-9]+$"));
    if (number.match(text).hasMatch()) {
        if (auto v = parseInteger(text)) return QVariant::fromValue(*v);
    }
    return text;
}

bool matches(const QVariant& v, KeyType type) {
    switch (type) {
        case KeyType::Boolean:
            return v.typeId() == QMetaType::Bool;
        case KeyType::Integer:
            return v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::ULongLong;
        case KeyType::String:
            return v.typeId() == QMetaType::QString;
        case KeyType::StringArray:
            if (v.typeId() != QMetaType::QVariantList) return false;
            for (const QVariant& e : v.toList())
                if (e.typeId() != QMetaType::QString) return false;
            return true;
        case KeyType::BooleanDictionary:
        case KeyType::Dictionary:
            return v.typeId() == QMetaType::QVariantMap;
    }
    return false;
}

const char* typeName(KeyType type) {
    switch (type) {
        case KeyType::Boolean:
            return "a boolean (true or false)";
        case KeyType::Integer:
            return "an integer";
        case KeyType::String:
            return "one string";
        case KeyType::StringArray:
            return "a list of strings";
        case KeyType::BooleanDictionary:
            return "a list of names";
        case KeyType::Dictionary:
            return "a dictionary";
    }
    return "";
}

struct Assignment {
    QStringList values;                      // KEY=VALUE, in order
    QList<QPair<QString, QString>> entries;  // KEY.NAME=VALUE, in order
};

class Builder {
  public:
    Builder(const Operation* op, QString* error) : op_(op), error_(error) {}

    // The value of one top-level key; nullopt after setting *error_.
    std::optional<QVariant> value(const QString& key, const Assignment& a, QVariant existing) {
        const KeySpec* keySpec = op_ ? op_->key(key) : nullptr;
        if (!a.values.isEmpty() && !a.entries.isEmpty())
            return fail(QStringLiteral("%1 is given both whole and by entries").arg(key));
        if (!a.entries.isEmpty()) return dictionary(key, keySpec, a.entries, existing.toMap());
        if (a.values.size() == 1 && a.values.first().startsWith(u'@')) {
            auto v = fromFile(a.values.first().mid(1));
            if (v && keySpec && !matches(*v, keySpec->type))
                return fail(
                    QStringLiteral("%1 takes %2; %3 holds something else")
                        .arg(key, QLatin1String(typeName(keySpec->type)), a.values.first().mid(1)));
            return v;
        }
        if (!keySpec) return guessedValue(a.values);
        return typedValue(key, keySpec->type, a.values);
    }

  private:
    std::optional<QVariant> fail(const QString& message) {
        *error_ = message;
        return std::nullopt;
    }

    std::optional<QVariant> fromFile(const QString& path) {
        QString error;
        auto v = readPlistFile(path, &error);
        if (!v) return fail(error);
        return v;
    }

    std::optional<QVariant> single(const QString& key, const QStringList& values) {
        if (values.size() != 1) return fail(QStringLiteral("%1 takes one value").arg(key));
        return values.first();
    }

    std::optional<QVariant> typedValue(const QString& key, KeyType type,
                                       const QStringList& values) {
        switch (type) {
            case KeyType::Boolean: {
                auto text = single(key, values);
                if (!text) return std::nullopt;
                auto b = parseBoolean(text->toString());
                if (!b)
                    return fail(QStringLiteral("%1 takes true or false, not \"%2\"")
                                    .arg(key, text->toString()));
                return QVariant(*b);
            }
            case KeyType::Integer: {
                auto text = single(key, values);
                if (!text) return std::nullopt;
                auto i = parseInteger(text->toString());
                if (!i)
                    return fail(QStringLiteral("%1 takes an integer, not \"%2\"")
                                    .arg(key, text->toString()));
                return QVariant::fromValue(*i);
            }
            case KeyType::String: {
                auto text = single(key, values);
                if (!text) return std::nullopt;
                return QVariant(unescapeCommas(text->toString()));
            }
            case KeyType::StringArray: {
                QVariantList list;
                for (const QString& v : values)
                    for (const QString& part : splitList(v)) list << part;
                return list;
            }
            case KeyType::BooleanDictionary: {
                QVariantMap map;
                for (const QString& v : values)
                    for (const QString& part : splitList(v))
                        if (!part.isEmpty()) map.insert(part, true);
                return map;
            }
            case KeyType::Dictionary:
                return fail(QStringLiteral("%1 takes a dictionary: give %1.NAME=VALUE or %1=@FILE")
                                .arg(key));
        }
        return std::nullopt;
    }

    static QVariant guessedValue(const QStringList& values) {
        QVariantList list;
        bool isList = values.size() > 1;
        for (const QString& v : values) {
            const QStringList parts = splitList(v);
            isList = isList || parts.size() > 1;
            for (const QString& part : parts) list << guessed(part);
        }
        return isList ? QVariant(list) : list.first();
    }

    std::optional<QVariant> dictionary(const QString& key, const KeySpec* keySpec,
                                       const QList<QPair<QString, QString>>& entries,
                                       QVariantMap map) {
        if (keySpec && keySpec->type != KeyType::Dictionary &&
            keySpec->type != KeyType::BooleanDictionary)
            return fail(QStringLiteral("%1 takes %2, not entries")
                            .arg(key, QLatin1String(typeName(keySpec->type))));
        for (const auto& [name, text] : entries) {
            if (name.isEmpty()) return fail(QStringLiteral("%1. needs an entry name").arg(key));
            if (keySpec && keySpec->type == KeyType::BooleanDictionary) {
                auto b = parseBoolean(text);
                if (!b)
                    return fail(QStringLiteral("%1.%2 takes true or false, not \"%3\"")
                                    .arg(key, name, text));
                map.insert(name, *b);
            } else if (text.startsWith(u'@')) {
                auto v = fromFile(text.mid(1));
                if (!v) return std::nullopt;
                map.insert(name, *v);
            } else {
                map.insert(name, guessedValue({text}));
            }
        }
        return map;
    }

    const Operation* op_;
    QString* error_;
};

}  // namespace

std::optional<QVariantMap> RequestBuilder::readRequestFile(const QString& path, QString* error) {
    auto value = readPlistFile(path, error);
    if (!value) return std::nullopt;
    if (value->typeId() != QMetaType::QVariantMap) {
        *error = QStringLiteral("%1 holds no dictionary").arg(path);
        return std::nullopt;
    }
    return value->toMap();
}

namespace {

// The operation a request file names; nullptr after setting *error.
const Operation* namedOperation(const QVariantMap& base, QString* error) {
    const QString named = base.value(QLatin1String(kIdentifierKey)).toString();
    if (named.isEmpty()) {
        *error = QStringLiteral("no operation given");
        return nullptr;
    }
    const Operation* operation = OperationCatalog::find(named);
    if (!operation) *error = QStringLiteral("unknown operation \"%1\"").arg(named);
    return operation;
}

// Gathers repeated keys and entries, keys in the order they came; false
// after setting *error.
bool gatherAssignments(const QStringList& assignments, QStringList* order,
                       QMap<QString, Assignment>* byKey, QString* error) {
    for (const QString& text : assignments) {
        const qsizetype eq = text.indexOf(u'=');
        if (eq <= 0) {
            *error = QStringLiteral("expected KEY=VALUE, not \"%1\"").arg(text);
            return false;
        }
        QString key = text.left(eq);
        const QString value = text.mid(eq + 1);
        QString entry;
        const qsizetype dot = key.indexOf(u'.');
        const bool nested = dot >= 0;
        if (nested) {
            entry = key.mid(dot + 1);
            key = key.left(dot);
        }
        if (key == QLatin1String(kIdentifierKey)) {
            *error =
                QStringLiteral("the operation is named by its own argument, not by %1").arg(key);
            return false;
        }
        if (!byKey->contains(key)) *order << key;
        Assignment& a = (*byKey)[key];
        if (nested)
            a.entries.append({entry, value});
        else
            a.values << value;
    }
    return true;
}

}  // namespace

std::optional<QVariantMap> RequestBuilder::build(const Operation* operation,
                                                 const QVariantMap& base,
                                                 const QStringList& assignments, bool debug,
                                                 QString* error, QStringList* warnings) {
    if (!operation) operation = namedOperation(base, error);
    if (!operation) return std::nullopt;
    QVariantMap request = base;
    request.insert(QLatin1String(kIdentifierKey), QLatin1String(operation->identifier));
    QStringList order;
    QMap<QString, Assignment> byKey;
    if (!gatherAssignments(assignments, &order, &byKey, error)) return std::nullopt;

    Builder builder(operation, error);
    for (const QString& key : order) {
        auto v = builder.value(key, byKey[key], request.value(key));
        if (!v) return std::nullopt;
        request.insert(key, *v);
        if (warnings && !operation->key(key) && key != QLatin1String(kDebugKey))
            *warnings << QStringLiteral("%1 does not read the key %2")
                             .arg(QLatin1String(operation->alias), key);
    }
    if (debug) request.insert(QLatin1String(kDebugKey), true);
    return request;
}

}  // namespace varno
