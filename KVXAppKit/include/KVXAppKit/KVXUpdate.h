#pragma once
// KVXUpdate: tells the user whether another version of an application is on
// offer. A check reads the update database (a property-list dictionary keyed
// by application name) over HTTP, compares the entry's "Current Version" with
// the running version, and talks to the user through modal alerts. It writes
// the time of the check and a "Don't Ask Again" answer into the application's
// standard user defaults under keys the caller passes, and posts its
// notifications on app::NotificationCenter::defaultCenter(), with no object
// and no user info.
//
// Types: names and keys are QString, addresses QUrl; a null QString stands
// for nil. Main thread only: a check waits for the network and runs its
// alerts before it returns.

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

// The defaults key meant to be passed as the auto-check key.
extern const QString KVXUpdateCheckAtLaunchDefault;
// The defaults key meant to be passed as the last-check key.
extern const QString KVXUpdateLastCheckedDefault;
// Posted when a version other than the running one was found.
extern const QString KVXUpdateDefaultsDidChangeNotification;
// Where the update database lives.
extern const QString KVXUpdateVersionsDictURL;

class KVXUpdate {
  public:
    KVXUpdate() = default;
    KVXUpdate(const QString& application, const QUrl& dictURL);  // initWithApplication:atURL:
    static std::unique_ptr<KVXUpdate> updateForApplication(const QString& application,
                                                           const QUrl& dictURL);

    void setApplication(const QString& application) { application_ = application; }
    void setDictURL(const QUrl& dictURL) { dictURL_ = dictURL; }

    // One check. A null running version means the main bundle's
    // "CFBundleVersion". sheetModal is accepted and has no effect: the
    // alerts are always modal for the whole application.
    void checkForUpdates(bool userInitiated, const QString& runningAppVersion,
                         const QString& autoCheckKey, const QString& lastCheckKey,
                         const void* sheetModal = nullptr);

    // Hands the address to the URL opener; only web addresses (http, https)
    // are opened, since the address comes from the network.
    void downloadUpdateWithURL(const QString& url);
    // Writes a boolean NO under the key in the standard user defaults.
    void disableAutoCheckWithKey(const QString& key);
    // Writes the current date and time under the key in the standard user
    // defaults.
    void logLastCheckedDate(const QString& key);
    // Posts "KVXUpdate finished checking for updates".
    void broadcastFinishedCheckingForUpdates();

    // Seams. The URL opener is the desktop's (QDesktopServices) unless one
    // is set; setURLOpener returns the opener it replaces, and an empty one
    // restores the desktop's. The main bundle (its Info.plist, its strings
    // tables and its defaults domain) is the running program's
    // (app::mainBundlePath()) unless a path is set; an empty path restores
    // that.
    using URLOpener = std::function<bool(const QUrl& url)>;
    static URLOpener setURLOpener(URLOpener opener);
    static void setMainBundlePath(const QString& realPath);
    static QString mainBundlePath();

  private:
    QString application_;
    QUrl dictURL_;
};
