#include "DiskUtilText.h"

#include <QByteArray>
#include <QStringList>
#include <string_view>

#include "app/plistbridge.h"
#include "plist/plist.h"

DiskUtilText diskUtilDictionaryFromText(const QString& text) {
    if (text.isEmpty() || text.contains(QStringLiteral("Could not find "))) return {};
    // The first line is the XML declaration.
    QStringList lines = text.split('\n');
    lines.removeFirst();
    const QByteArray xml = lines.join('\n').toUtf8();
    plist::ParseError error;
    const std::optional<plist::Value> value =
        plist::parseXML(std::string_view(xml.constData(), static_cast<size_t>(xml.size())), &error);
    if (!value) return {{}, QString::fromStdString(error.message)};
    const plist::Dictionary* dictionary = value->asDictionary();
    if (dictionary == nullptr) return {{}, QStringLiteral("the property list holds no dictionary")};
    return {app::mapFromPlist(*dictionary), std::nullopt};
}
