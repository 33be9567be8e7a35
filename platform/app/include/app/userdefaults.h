#pragma once
// Persistent user-defaults domains: the dictionary in
// "~/Library/Preferences/<domain>.plist" of the user running the process,
// under the system root. A domain is read whole and written whole; programs
// that share a domain (the agent and the main application) each read it
// afresh and the last writer wins.

#include <QString>
#include <QVariantMap>

#include "app/propertylistfile.h"

namespace app {

// The home folder (a machine path) of the user running this process.
QString homeFolder();
// "~" and "~/..." in the running user's home folder; other paths unchanged.
QString expandTildeInPath(const QString& machinePath);
// The real path of a machine path ("/Users/ann/...") under the system root.
QString realPathForMachinePath(const QString& machinePath);

// The machine path of a domain's file.
QString persistentDomainPath(const QString& domainName);

// Missing: no such domain yet. Unreadable: there is a file, but it holds no
// dictionary this reader understands; a caller must then not write the
// domain, or what the file held would be lost.
DictionaryFile persistentDomainForName(const QString& domainName);

bool setPersistentDomain(const QVariantMap& domain, const QString& domainName,
                         QString* error = nullptr);

}  // namespace app
