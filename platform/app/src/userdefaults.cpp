#include "app/userdefaults.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "host/root.h"
#include "host/system.h"

namespace app {

QString homeFolder() {
    if (auto home = host::currentUserHomeFolder()) return QString::fromStdString(*home);
    // A user the root's account database does not know: where the platform
    // keeps such a user's home.
    const uid_t uid = getuid();
    if (uid == 0) return QStringLiteral("/var/root");
    const passwd* pw = getpwuid(uid);
    return QString::fromStdString(
        host::homeFolderForUserName(pw ? std::string(pw->pw_name) : std::to_string(uid)));
}

QString expandTildeInPath(const QString& path) {
    if (path == QStringLiteral("~")) return homeFolder();
    if (path.startsWith(QStringLiteral("~/"))) return homeFolder() + path.mid(1);
    return path;
}

QString realPathForMachinePath(const QString& machinePath) {
    return QString::fromStdString(host::realPath(machinePath.toStdString()));
}

QString persistentDomainPath(const QString& domainName) {
    return expandTildeInPath(QStringLiteral("~/Library/Preferences/") + domainName +
                             QStringLiteral(".plist"));
}

namespace {

// A domain name is one file name; anything that would lead elsewhere is none.
bool isDomainName(const QString& name) {
    return !name.isEmpty() && !name.contains('/') && name != QStringLiteral(".") &&
           name != QStringLiteral("..");
}

}  // namespace

DictionaryFile persistentDomainForName(const QString& domainName) {
    if (!isDomainName(domainName))
        return {FileState::Unreadable, {}, QStringLiteral("no domain name: %1").arg(domainName)};
    return readDictionaryFile(realPathForMachinePath(persistentDomainPath(domainName)));
}

bool setPersistentDomain(const QVariantMap& domain, const QString& domainName, QString* error) {
    if (!isDomainName(domainName)) {
        if (error) *error = QStringLiteral("no domain name: %1").arg(domainName);
        return false;
    }
    const QString path = realPathForMachinePath(persistentDomainPath(domainName));
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error) *error = QStringLiteral("cannot create the folder of %1").arg(path);
        return false;
    }
    // Preferences are the user's own: new files are readable by no one else.
    return writeDictionaryFile(path, domain, error, 0600);
}

}  // namespace app
