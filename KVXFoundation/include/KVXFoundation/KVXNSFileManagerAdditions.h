#pragma once
// KVXNSFileManagerAdditions: a directory listed as full paths, paths and URLs
// turned into file-system references, and the size of a file or a whole
// folder tree.
//
// Types: paths are machine paths in QString (found under the system root),
// URLs are QUrl, references are vfs::FSRef (an invalid one stands for the
// all-zero reference), sizes are quint64 bytes, and the error slot is a
// std::error_code holding the listing's errno. The file manager has no state
// here, so there is no receiver argument.

#include <QString>
#include <QStringList>
#include <QUrl>
#include <system_error>

#include "KVXFoundation/KVXFoundationExport.h"
#include "fs/ref.h"

namespace KVXNSFileManagerAdditions {

// Each entry of the directory (hidden ones too, in name order) appended to
// path as a path component. When the listing fails: an empty list, and
// *error (when given) holds the listing's error.
KVXFOUNDATION_EXPORT QStringList directoryContentsPathsAtPath(const QString& path,
                                                              std::error_code* error);

// The reference of the file URL made from a path; a relative path is taken
// from the current folder.
KVXFOUNDATION_EXPORT vfs::FSRef posixStringToFSRef(const QString& path, bool isDirectory);

// The reference of a file URL; an invalid reference for an empty URL, a URL
// that is no local file or a file that does not exist. isDirectory is not
// used. A link in the last component is named itself, not followed.
KVXFOUNDATION_EXPORT vfs::FSRef urlToFSRef(const QUrl& url, bool isDirectory);

// The logical data size of the item in bytes; for a folder the sum over the
// files and links of its whole tree (folders add nothing). Links are never
// followed. The tree is walked in a loop, so no depth exhausts the stack.
// Failures to look up the item are printed to standard output and count as
// 0; a folder inside that cannot be read adds nothing.
KVXFOUNDATION_EXPORT quint64 sizeAtFSRef(const vfs::FSRef* ref);

}  // namespace KVXNSFileManagerAdditions
