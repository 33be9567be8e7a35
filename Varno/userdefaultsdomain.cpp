#include "userdefaultsdomain.h"

#include <pwd.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "app/plistbridge.h"
#include "host/root.h"
#include "host/system.h"
#include "plist/plist.h"

namespace varno {

namespace {

QString realPath(const QString& machinePath) {
    return QString::fromStdString(host::realPath(machinePath.toStdString()));
}

}  // namespace

QString currentUserHomeFolder() {
    if (auto home = host::currentUserHomeFolder()) return QString::fromStdString(*home);
    // A user the root's account database does not know: where the platform
    // keeps such a user's home.
    const uid_t uid = getuid();
    if (uid == 0) return QStringLiteral("/var/root");
    const passwd* pw = getpwuid(uid);
    return QString::fromStdString(
        host::homeFolderForUserName(pw ? std::string(pw->pw_name) : std::to_string(uid)));
}

UserDefaultsDomain::UserDefaultsDomain(const QString& domain, const QString& homeFolder)
    : machinePath_(homeFolder + QStringLiteral("/Library/Preferences/") + domain +
                   QStringLiteral(".plist")),
      filePath_(realPath(machinePath_)) {}

std::optional<QVariantMap> UserDefaultsDomain::read(QString* error) const {
    QFile file(filePath_);
    if (!file.exists()) return QVariantMap{};
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(machinePath_, file.errorString());
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    plist::ParseError parseError;
    auto value = plist::parse(std::string_view(bytes.constData(), bytes.size()), &parseError);
    if (!value || !value->isDictionary()) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2")
                         .arg(machinePath_, value ? QStringLiteral("not a dictionary")
                                                  : QString::fromStdString(parseError.message));
        return std::nullopt;
    }
    return app::mapFromPlist(*value->asDictionary());
}

bool UserDefaultsDomain::write(const QVariantMap& domain, QString* error) const {
    QString conversionError;
    auto value = app::plistFromVariant(domain, &conversionError);
    if (!value) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(machinePath_, conversionError);
        return false;
    }
    const std::string document = plist::writeXML(*value);
    if (!QDir().mkpath(QFileInfo(filePath_).absolutePath())) {
        if (error) *error = QStringLiteral("cannot create the folder of %1").arg(machinePath_);
        return false;
    }
    QSaveFile file(filePath_);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(document.data(), static_cast<qint64>(document.size())) !=
            static_cast<qint64>(document.size()) ||
        !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(machinePath_, file.errorString());
        return false;
    }
    return true;
}

}  // namespace varno
