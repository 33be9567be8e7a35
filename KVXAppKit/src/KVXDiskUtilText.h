#pragma once
// The text "diskutil info -plist" and "diskutil list -plist" print: an XML
// declaration line, then a property list whose root is a dictionary.

#include <QString>
#include <QVariantMap>
#include <optional>

namespace kvxdiskutil {

struct ParsedText {
    QVariantMap info;              // empty unless the text holds a dictionary
    std::optional<QString> error;  // why the text is no such property list
};

// No output and an unknown device give an empty map and no error.
ParsedText infoFromText(const QString& text);

}  // namespace kvxdiskutil
