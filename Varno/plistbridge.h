#pragma once
// Maps property-list values to Qt types and back, one to one: string
// (QString), integer (qlonglong, or qulonglong above the signed range), real
// (double), boolean, date (QDateTime in UTC), data (QByteArray), array
// (QVariantList) and dictionary (QVariantMap).

#include <QString>
#include <QVariant>
#include <optional>

#include "plist/plist.h"

namespace varno {

class PlistBridge {
  public:
    static QVariant toVariant(const plist::Value& value);
    // nullopt (with *error filled) for a value no property list can hold.
    static std::optional<plist::Value> fromVariant(const QVariant& value, QString* error = nullptr);
    static QVariantMap toMap(const plist::Dictionary& dictionary);
};

}  // namespace varno
