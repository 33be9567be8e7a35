#include "app/plistbridge.h"

#include <QDateTime>
#include <QTimeZone>
#include <algorithm>
#include <cmath>

namespace app {

QVariant variantFromPlist(const plist::Value& value) {
    switch (value.type()) {
        case plist::Type::String:
            return QString::fromStdString(*value.asString());
        case plist::Type::Integer: {
            const plist::Integer* i = value.asIntegerValue();
            if (i->isBigUnsigned) return QVariant::fromValue(static_cast<qulonglong>(i->value));
            return QVariant::fromValue(static_cast<qlonglong>(i->value));
        }
        case plist::Type::Real:
            return *value.asReal();
        case plist::Type::Boolean:
            return *value.asBoolean();
        case plist::Type::Date: {
            // A stored date can hold any double; one beyond some 285,000 years
            // either way (or not a number) names no real moment and would not
            // fit the millisecond count. It is read as the nearest end of that
            // span (or the reference date), which also writes back unchanged.
            constexpr double kLimitMs = 9007199254740992.0;  // 2^53
            double ms = std::round(plist::unixFromDate(*value.asDate()) * 1000.0);
            if (std::isnan(ms)) ms = plist::unixFromDate(plist::Date{0}) * 1000.0;
            ms = std::clamp(ms, -kLimitMs, kLimitMs);
            return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms), QTimeZone::utc());
        }
        case plist::Type::Data: {
            const plist::Data& d = *value.asData();
            return QByteArray(reinterpret_cast<const char*>(d.data()),
                              static_cast<qsizetype>(d.size()));
        }
        case plist::Type::Array: {
            QVariantList list;
            for (const plist::Value& v : *value.asArray()) list.append(variantFromPlist(v));
            return list;
        }
        case plist::Type::Dictionary:
            return mapFromPlist(*value.asDictionary());
    }
    return {};
}

QVariantMap mapFromPlist(const plist::Dictionary& dictionary) {
    QVariantMap map;
    for (const auto& [key, v] : dictionary)
        map.insert(QString::fromStdString(key), variantFromPlist(v));
    return map;
}

std::optional<plist::Value> plistFromVariant(const QVariant& value, QString* error) {
    switch (value.typeId()) {
        case QMetaType::QString:
            return plist::Value(value.toString().toStdString());
        case QMetaType::Bool:
            return plist::Value::boolean(value.toBool());
        case QMetaType::Int:
        case QMetaType::Long:
        case QMetaType::LongLong:
        case QMetaType::Short:
        case QMetaType::Char:
        case QMetaType::SChar:
            return plist::Value::integer(value.toLongLong());
        case QMetaType::UInt:
        case QMetaType::ULong:
        case QMetaType::ULongLong:
        case QMetaType::UShort:
        case QMetaType::UChar:
            return plist::Value::unsignedInteger(value.toULongLong());
        case QMetaType::Double:
        case QMetaType::Float:
            return plist::Value::real(value.toDouble());
        case QMetaType::QDateTime: {
            const QDateTime date = value.toDateTime();
            if (!date.isValid()) break;
            return plist::Value(plist::dateFromUnix(date.toMSecsSinceEpoch() / 1000.0));
        }
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            return plist::Value(plist::Data(bytes.begin(), bytes.end()));
        }
        case QMetaType::QStringList:
        case QMetaType::QVariantList: {
            plist::Array array;
            for (const QVariant& v : value.toList()) {
                auto element = plistFromVariant(v, error);
                if (!element) return std::nullopt;
                array.push_back(std::move(*element));
            }
            return plist::Value(std::move(array));
        }
        case QMetaType::QVariantMap:
        case QMetaType::QVariantHash: {
            plist::Dictionary dictionary;
            const QVariantMap map = value.toMap();
            for (auto it = map.begin(); it != map.end(); ++it) {
                auto element = plistFromVariant(it.value(), error);
                if (!element) return std::nullopt;
                dictionary.insert_or_assign(it.key().toStdString(), std::move(*element));
            }
            return plist::Value(std::move(dictionary));
        }
        default:
            break;
    }
    if (error)
        *error = QStringLiteral("a value of type %1 has no property-list form")
                     .arg(QString::fromLatin1(value.typeName() ? value.typeName() : "(none)"));
    return std::nullopt;
}

std::optional<QByteArray> xmlPropertyList(const QVariantMap& dictionary, QString* error) {
    auto value = plistFromVariant(dictionary, error);
    if (!value) return std::nullopt;
    const std::string document = plist::writeXML(*value);
    return QByteArray(document.data(), static_cast<qsizetype>(document.size()));
}

}  // namespace app
