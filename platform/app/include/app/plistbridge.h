#pragma once
// Property-list values as Qt types and back, one to one: string (QString),
// integer (qlonglong, or qulonglong above the signed range), real (double),
// boolean, date (QDateTime in UTC), data (QByteArray), array (QVariantList)
// and dictionary (QVariantMap).

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <optional>

#include "plist/plist.h"

namespace app {

QVariant variantFromPlist(const plist::Value& value);
QVariantMap mapFromPlist(const plist::Dictionary& dictionary);
// nullopt (with *error filled) for a value no property list can hold.
std::optional<plist::Value> plistFromVariant(const QVariant& value, QString* error = nullptr);

// A dictionary as an XML property-list document; nullopt when a value has no
// property-list form.
std::optional<QByteArray> xmlPropertyList(const QVariantMap& dictionary, QString* error = nullptr);

}  // namespace app
