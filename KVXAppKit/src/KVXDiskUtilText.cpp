#include "KVXDiskUtilText.h"

#include <QStringList>
#include <string>

#include "app/plistbridge.h"
#include "plist/plist.h"

namespace kvxdiskutil {

ParsedText infoFromText(const QString& text) {
    if (text.isEmpty() || text.contains(QStringLiteral("Could not find "))) return {};
    // The first line is the XML declaration the utility's output begins with.
    QStringList lines = text.split('\n');
    lines.removeFirst();
    const std::string document = lines.join('\n').toStdString();
    plist::ParseError error;
    const std::optional<plist::Value> value = plist::parse(document, &error);
    if (!value) return {{}, QString::fromStdString(error.message)};
    const QVariant parsed = app::variantFromPlist(*value);
    if (parsed.typeId() != QMetaType::QVariantMap) return {{}, QStringLiteral("not a dictionary")};
    return {parsed.toMap(), std::nullopt};
}

}  // namespace kvxdiskutil
