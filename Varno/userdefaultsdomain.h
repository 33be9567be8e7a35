#pragma once
// A user-defaults domain: the property-list file
// "~/Library/Preferences/<domain>.plist" of a home folder under the system
// root, read whole and written whole, atomically. Other programs (the agent)
// rewrite the same file the same way; the last writer wins.

#include <QString>
#include <QVariantMap>
#include <optional>

namespace varno {

class UserDefaultsDomain {
  public:
    // homeFolder is a machine path ("/Users/ann").
    UserDefaultsDomain(const QString& domain, const QString& homeFolder);

    QString machinePath() const { return machinePath_; }
    QString filePath() const { return filePath_; }

    // The domain's dictionary; empty when the file does not exist yet.
    // nullopt when it exists but cannot be read or is no dictionary, so that
    // a caller never writes over a file it could not understand.
    std::optional<QVariantMap> read(QString* error = nullptr) const;
    // Replaces the file with the dictionary in one rename.
    bool write(const QVariantMap& domain, QString* error = nullptr) const;

  private:
    QString machinePath_;
    QString filePath_;
};

// The machine path of the home folder of the user running this process, as
// the system root's account database gives it ("/var/root" for root).
QString currentUserHomeFolder();

}  // namespace varno
