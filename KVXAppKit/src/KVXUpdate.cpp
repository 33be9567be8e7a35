#include "KVXAppKit/KVXUpdate.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QEventLoop>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QVariant>
#include <optional>
#include <vector>

#include "KVXUpdateStringsTable.h"
#include "app/alert.h"
#include "app/application.h"
#include "app/format.h"
#include "app/log.h"
#include "app/notificationcenter.h"
#include "app/propertylistfile.h"
#include "app/userdefaults.h"
#include "plist/plist.h"

const QString KVXUpdateCheckAtLaunchDefault = QStringLiteral("KVXUpdate: Check at launch");
const QString KVXUpdateLastCheckedDefault = QStringLiteral("KVXUpdate: Last checked");
const QString KVXUpdateDefaultsDidChangeNotification =
    QStringLiteral("KVXUpdateDefaultsDidChangeNotification");
const QString KVXUpdateVersionsDictURL =
    QStringLiteral("http://www.kvxlabs.com/KVXUpdateDatabase.xml");

namespace {

const QString kFinishedNotification = QStringLiteral("KVXUpdate finished checking for updates");
const QString kStringsTable = QStringLiteral("KVXUpdate");

// The platform's default time limit for loading a URL.
constexpr int kTransferTimeoutMs = 60 * 1000;
// The database is a small property list; a larger answer is not one.
constexpr qint64 kMaxDatabaseBytes = 4 * 1024 * 1024;

KVXUpdate::URLOpener& urlOpener() {
    static KVXUpdate::URLOpener opener;
    return opener;
}

QString& mainBundleOverride() {
    static QString path;
    return path;
}

QVariantMap mainBundleInfo() {
    return app::readDictionaryFile(KVXUpdate::mainBundlePath() +
                                   QStringLiteral("/Contents/Info.plist"))
        .dictionary;
}

// The standard user defaults live in the domain named by the main bundle's
// identifier, or by the program's name when it has none.
QString standardDefaultsDomain() {
    const QVariant identifier = mainBundleInfo().value(QStringLiteral("CFBundleIdentifier"));
    if (identifier.typeId() == QMetaType::QString && !identifier.toString().isEmpty())
        return identifier.toString();
    return QCoreApplication::applicationName();
}

void setStandardDefault(const QString& key, const QVariant& value) {
    if (key.isEmpty()) return;
    const QString domainName = standardDefaultsDomain();
    app::DictionaryFile domain = app::persistentDomainForName(domainName);
    // Writing over a file we cannot read would lose what the user had there.
    if (domain.state == app::FileState::Unreadable) {
        app::NSLogv(QStringLiteral("Cannot read the user defaults %@: %@"),
                    {domainName, domain.error});
        return;
    }
    domain.dictionary.insert(key, value);
    QString error;
    if (!app::setPersistentDomain(domain.dictionary, domainName, &error))
        app::NSLogv(QStringLiteral("Cannot write the user defaults %@: %@"), {domainName, error});
}

// The database as a dictionary, read synchronously; nullopt when it cannot
// be had or is not a property-list dictionary.
std::optional<plist::Dictionary> readDatabase(const QUrl& url) {
    if (!url.isValid()) return std::nullopt;
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setTransferTimeout(kTransferTimeoutMs);
    QNetworkReply* reply = manager.get(request);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply](qint64 received, qint64) {
                         if (received > kMaxDatabaseBytes) reply->abort();
                     });
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    const QByteArray body = reply->error() == QNetworkReply::NoError
                                ? reply->read(kMaxDatabaseBytes + 1)
                                : QByteArray();
    delete reply;
    if (body.isEmpty() || body.size() > kMaxDatabaseBytes) return std::nullopt;
    std::optional<plist::Value> root =
        plist::parse(std::string_view(body.constData(), static_cast<size_t>(body.size())));
    if (!root || !root->isDictionary()) return std::nullopt;
    return std::move(*root->asDictionary());
}

struct Entry {
    QString currentVersion;  // null when the database does not say
    QString downloadURL;
};

// A value that is not a string is as good as a missing one.
QString stringValue(const plist::Dictionary& dictionary, const char* key) {
    const auto it = dictionary.find(key);
    if (it == dictionary.end() || !it->second.isString()) return QString();
    return QString::fromStdString(*it->second.asString());
}

Entry entryForApplication(const QUrl& url, const QString& application) {
    const std::optional<plist::Dictionary> database = readDatabase(url);
    if (!database) return {};
    const auto it = database->find(application.toStdString());
    if (it == database->end() || !it->second.isDictionary()) return {};
    const plist::Dictionary& entry = *it->second.asDictionary();
    return {stringValue(entry, "Current Version"), stringValue(entry, "Download URL")};
}

}  // namespace

KVXUpdate::KVXUpdate(const QString& application, const QUrl& dictURL) {
    setApplication(application);
    setDictURL(dictURL);
}

std::unique_ptr<KVXUpdate> KVXUpdate::updateForApplication(const QString& application,
                                                           const QUrl& dictURL) {
    return std::make_unique<KVXUpdate>(application, dictURL);
}

void KVXUpdate::checkForUpdates(bool userInitiated, const QString& runningAppVersion,
                                const QString& autoCheckKey, const QString& lastCheckKey,
                                const void* /*sheetModal*/) {
    app::NSLog(QStringLiteral("Checking for updates..."));

    QString runningVersion = runningAppVersion;
    if (runningVersion.isNull()) {
        const QVariant version = mainBundleInfo().value(QStringLiteral("CFBundleVersion"));
        if (version.typeId() == QMetaType::QString) runningVersion = version.toString();
    }

    const Entry entry = entryForApplication(dictURL_, application_);
    const QString& currentVersion = entry.currentVersion;
    const kvxstrings::Table strings =
        kvxstrings::loadTable(mainBundlePath(), kStringsTable, QLocale::system().uiLanguages());
    auto text = [&strings](const char* key, const QVariantList& arguments = {}) {
        const QString localized = kvxstrings::localizedString(strings, QString::fromUtf8(key));
        return arguments.isEmpty() ? localized : app::format(localized, arguments);
    };

    // Null (nil) equals nothing, not even another null.
    if (!currentVersion.isNull() && !runningVersion.isNull() && currentVersion == runningVersion) {
        app::NSLogv(QStringLiteral("%@ is up-to-date."), {application_});
        if (userInitiated) {
            std::unique_ptr<app::Alert> alert = app::Alert::alertWithMessageText(
                text("Up-To-Date window title", {application_}), text("OK"), QString(), QString(),
                text("Up-To-Date window body", {application_, currentVersion}));
            app::activateIgnoringOtherApps();
            alert->runModal();
        }
    } else {
        if (currentVersion.isNull()) {
            app::NSLog(QStringLiteral("Check for updates timed out."));
            return;
        }
        app::NSLogv(QStringLiteral("%@ version %@ is available."), {application_, currentVersion});
        app::NotificationCenter::defaultCenter().postNotificationName(
            KVXUpdateDefaultsDidChangeNotification);

        const QString alternate = userInitiated ? QString() : text("Don't Ask Again");
        const QString other = text("No");
        std::unique_ptr<app::Alert> alert = app::Alert::alertWithMessageText(
            text("Update Available window title"), text("Yes"), alternate, other,
            text("Update Available window body", {application_, currentVersion}));
        app::activateIgnoringOtherApps();
        // 1 "Yes", 0 "Don't Ask Again", -1 "No" (nothing more).
        const int answer = alert->runModal();
        if (answer == app::Alert::kDefaultReturn) downloadUpdateWithURL(entry.downloadURL);
        // Only an alert that has the alternate button can have meant it.
        if (answer == app::Alert::kAlternateReturn && !alternate.isEmpty())
            disableAutoCheckWithKey(autoCheckKey);
    }

    logLastCheckedDate(lastCheckKey);
    broadcastFinishedCheckingForUpdates();
}

void KVXUpdate::downloadUpdateWithURL(const QString& url) {
    const QUrl address(url, QUrl::StrictMode);
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || address.host().isEmpty() ||
        (scheme != QStringLiteral("http") && scheme != QStringLiteral("https"))) {
        app::NSLogv(QStringLiteral("Not opening the update address %@: not a web address."), {url});
        return;
    }
    const URLOpener& opener = urlOpener();
    if (opener)
        opener(address);
    else
        QDesktopServices::openUrl(address);
}

void KVXUpdate::disableAutoCheckWithKey(const QString& key) {
    setStandardDefault(key, QVariant(false));
}

void KVXUpdate::logLastCheckedDate(const QString& key) {
    setStandardDefault(key, QVariant(QDateTime::currentDateTimeUtc()));
}

void KVXUpdate::broadcastFinishedCheckingForUpdates() {
    app::NotificationCenter::defaultCenter().postNotificationName(kFinishedNotification);
}

KVXUpdate::URLOpener KVXUpdate::setURLOpener(URLOpener opener) {
    URLOpener previous = std::move(urlOpener());
    urlOpener() = std::move(opener);
    return previous;
}

void KVXUpdate::setMainBundlePath(const QString& realPath) {
    mainBundleOverride() = realPath;
}

QString KVXUpdate::mainBundlePath() {
    return mainBundleOverride().isEmpty() ? app::mainBundlePath() : mainBundleOverride();
}
