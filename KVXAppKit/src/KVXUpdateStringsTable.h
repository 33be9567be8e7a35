#pragma once
// Strings tables of a bundle: "<table>.strings" files in the bundle's
// "Contents/Resources/<language>.lproj/" folders, in the platform's
// "key" = "value"; form (UTF-8 or UTF-16) or as a property-list dictionary.

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

namespace kvxstrings {

using Table = QHash<QString, QString>;

// The entries of a strings file; nullopt when the bytes are not one.
std::optional<Table> parseStringsFile(const QByteArray& bytes);

// The ".lproj" folder names to look in, best first: each preferred language
// ("de-CH" gives "de_CH", "de-CH", "de" and "German"), then English.
QStringList localizationFolders(const QStringList& preferredLanguages);

// The table from the first of those folders that holds a readable file of
// it; empty when none does.
Table loadTable(const QString& bundlePath, const QString& tableName,
                const QStringList& preferredLanguages);

// The text for the key; the key itself when the table has no entry.
QString localizedString(const Table& table, const QString& key);

}  // namespace kvxstrings
