#include "plistbridge.h"

#include "app/plistbridge.h"

// One mapping for the whole system: the agent reads what this program writes.
namespace varno {

QVariant PlistBridge::toVariant(const plist::Value& value) {
    return app::variantFromPlist(value);
}

std::optional<plist::Value> PlistBridge::fromVariant(const QVariant& value, QString* error) {
    return app::plistFromVariant(value, error);
}

QVariantMap PlistBridge::toMap(const plist::Dictionary& dictionary) {
    return app::mapFromPlist(dictionary);
}

}  // namespace varno
