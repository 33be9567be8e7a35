#pragma once
// The text the disk utility prints for "list -plist" and "info -plist": an
// XML declaration line, then an XML property list holding a dictionary.

#include <QString>
#include <QVariantMap>
#include <optional>

struct DiskUtilText {
    QVariantMap dictionary;        // empty unless the text holds one
    std::optional<QString> error;  // why the text is no such property list
};

// No output and an unknown device give an empty dictionary and no error.
DiskUtilText diskUtilDictionaryFromText(const QString& text);
