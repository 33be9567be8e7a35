#pragma once
// Property-list dictionaries kept in files: read whole (XML or binary) and
// written whole as XML, atomically. Paths here are real paths.

#include <QString>
#include <QVariantMap>

namespace app {

enum class FileState {
    Present,     // read and understood
    Missing,     // no file at the path
    Unreadable,  // a file (or something else) is there but holds no dictionary we can read
};

struct DictionaryFile {
    FileState state = FileState::Missing;
    QVariantMap dictionary;  // empty unless Present
    QString error;           // why it is Unreadable
};

DictionaryFile readDictionaryFile(const QString& realPath);

// Writes the XML document to a temporary file beside the path and renames it
// over the path, so a reader sees the old file or the new one, never part of
// one. An existing file's permission bits are kept; a new file gets `mode`.
bool writeDictionaryFile(const QString& realPath, const QVariantMap& dictionary,
                         QString* error = nullptr, unsigned mode = 0644);

}  // namespace app
