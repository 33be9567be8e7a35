// The update checker against a real HTTP server on loopback: what the user
// sees, what is written into the defaults, what is posted, what is opened.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KVXAppKit/KVXUpdate.h"
#include "app/alert.h"
#include "app/notificationcenter.h"
#include "app/plistbridge.h"
#include "app/propertylistfile.h"
#include "app/testing.h"
#include "app/userdefaults.h"
#include "host/testing.h"

namespace {

const QString kFinished = "KVXUpdate finished checking for updates";
const QString kDidChange = "KVXUpdateDefaultsDidChangeNotification";
const QString kDomain = "com.kvxlabs.UpdateTest";
const QString kAutoKey = "KVXUpdate: Check at launch";
const QString kLastKey = "KVXUpdate: Last checked";
const QString kApp = "Varno";
const char kDownload[] = "http://downloads.example.com/Varno-2.1.dmg";

// Answers every request on a loopback port with one fixed response, on a
// thread of its own, and remembers the request lines.
class HttpServer {
  public:
    explicit HttpServer(std::string response) : response_(std::move(response)) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) throw std::runtime_error("socket");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(fd_, 8) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("bind/listen");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~HttpServer() {
        stop_ = true;
        thread_.join();
        close(fd_);
    }

    static HttpServer withBody(const QByteArray& body, const char* status = "200 OK") {
        return HttpServer(std::string("HTTP/1.1 ") + status +
                          "\r\nContent-Type: text/xml\r\nConnection: close\r\nContent-Length: " +
                          std::to_string(body.size()) + "\r\n\r\n" + body.toStdString());
    }

    QUrl url() const {
        return QUrl(QString("http://127.0.0.1:%1/KVXUpdateDatabase.xml").arg(port_));
    }
    std::vector<std::string> requestLines() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    void serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = read(client, buffer, sizeof buffer);
                if (n <= 0) break;
                request.append(buffer, static_cast<size_t>(n));
            }
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request.substr(0, request.find("\r\n")));
            }
            size_t sent = 0;
            while (sent < response_.size()) {
                const ssize_t n = write(client, response_.data() + sent, response_.size() - sent);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
            }
            close(client);
        }
    }

    std::string response_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
};

// A port on which nobody listens.
QUrl deadURL() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    close(fd);
    return QUrl(QString("http://127.0.0.1:%1/KVXUpdateDatabase.xml").arg(ntohs(address.sin_port)));
}

QByteArray database(const QVariantMap& entries) {
    return *app::xmlPropertyList(entries);
}

QByteArray databaseWith(const QString& version, const QString& download = kDownload) {
    return database(
        {{kApp, QVariantMap{{"Current Version", version}, {"Download URL", download}}}});
}

const char kStrings[] =
    "/* KVXUpdate */\n"
    "\"Up-To-Date window title\" = \"%@ is up to date\";\n"
    "\"Up-To-Date window body\" = \"%@ %@ is the newest version.\";\n"
    "\"OK\" = \"Fine\";\n"
    "\"Update Available window title\" = \"A new version\";\n"
    "\"Update Available window body\" = \"%@ %@ can be downloaded.\";\n"
    "\"Yes\" = \"Download\";\n"
    "\"No\" = \"Later\";\n"
    "\"Don't Ask Again\" = \"Never\";\n";

class KVXUpdateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app::testing::ensureApplication();
        bundle_ = QString::fromStdString(bundleDir_.path()) + "/UpdateTest.app";
        writeInfo({{"CFBundleIdentifier", kDomain}, {"CFBundleVersion", "2.0"}});
        writeStrings(kStrings);
        KVXUpdate::setMainBundlePath(bundle_);
        KVXUpdate::setURLOpener([this](const QUrl& url) {
            opened_.append(url.toString());
            return true;
        });
        app::NotificationCenter::defaultCenter().addObserver(
            this, QString(), nullptr,
            [this](const app::Notification& n) { notifications_.append(n.name); });
    }
    void TearDown() override {
        app::NotificationCenter::defaultCenter().removeObserver(this);
        KVXUpdate::setURLOpener({});
        KVXUpdate::setMainBundlePath({});
    }

    void writeInfo(const QVariantMap& info) {
        ASSERT_TRUE(QDir().mkpath(bundle_ + "/Contents"));
        ASSERT_TRUE(app::writeDictionaryFile(bundle_ + "/Contents/Info.plist", info));
    }
    void writeStrings(const QByteArray& content) {
        const QString folder = bundle_ + "/Contents/Resources/English.lproj";
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile file(folder + "/KVXUpdate.strings");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }

    void check(const QUrl& url, bool userInitiated, const QString& running) {
        before_ = QDateTime::currentDateTimeUtc().addSecs(-1);
        KVXUpdate::updateForApplication(kApp, url)->checkForUpdates(userInitiated, running,
                                                                    kAutoKey, kLastKey, nullptr);
        after_ = QDateTime::currentDateTimeUtc().addSecs(1);
    }

    app::DictionaryFile defaults() const { return app::persistentDomainForName(kDomain); }
    // The last-check date was written during the check.
    void expectDateWritten() const {
        const QVariant date = defaults().dictionary.value(kLastKey);
        ASSERT_EQ(date.typeId(), QMetaType::QDateTime);
        EXPECT_GE(date.toDateTime(), before_);
        EXPECT_LE(date.toDateTime(), after_);
    }

    host::testing::SandboxRoot root_;
    host::testing::TempDir bundleDir_;
    QString bundle_;
    app::testing::AlertScript alerts_;
    app::testing::LogCapture log_;
    QStringList opened_;
    QStringList notifications_;
    QDateTime before_, after_;
};

TEST_F(KVXUpdateTest, UpToDateOnAUserInitiatedCheck) {
    HttpServer server = HttpServer::withBody(databaseWith("2.0"));
    check(server.url(), true, "2.0");

    ASSERT_EQ(alerts_.shown().size(), 1u);
    const app::testing::ShownAlert& alert = alerts_.shown()[0];
    EXPECT_EQ(alert.messageText, "Varno is up to date");
    EXPECT_EQ(alert.informativeText, "Varno 2.0 is the newest version.");
    EXPECT_EQ(alert.buttons, QStringList{"Fine"});
    expectDateWritten();
    EXPECT_FALSE(defaults().dictionary.contains(kAutoKey));
    EXPECT_EQ(notifications_, QStringList{kFinished});
    EXPECT_TRUE(opened_.isEmpty());
    EXPECT_EQ(log_.lines().size(), 2);
    EXPECT_EQ(log_.countEndingWith("Checking for updates..."), 1);
    EXPECT_EQ(log_.countEndingWith("Varno is up-to-date."), 1);
    EXPECT_EQ(server.requestLines(),
              std::vector<std::string>{"GET /KVXUpdateDatabase.xml HTTP/1.1"});
}

TEST_F(KVXUpdateTest, UpToDateOnAnAutomaticCheckShowsNothing) {
    HttpServer server = HttpServer::withBody(databaseWith("2.0"));
    check(server.url(), false, "2.0");

    EXPECT_TRUE(alerts_.shown().empty());
    expectDateWritten();
    EXPECT_EQ(notifications_, QStringList{kFinished});
    EXPECT_EQ(log_.countEndingWith("Varno is up-to-date."), 1);
}

TEST_F(KVXUpdateTest, AnyOtherVersionIsOfferedAndTheAnswerActedOn) {
    struct Case {
        const char* name;
        const char* databaseVersion;
        bool userInitiated;
        int answer;
        QStringList buttons;
        bool downloads;
        bool disablesAutoCheck;
    };
    const Case cases[] = {
        {"newer, automatic, Yes", "2.1", false, 1, {"Download", "Never", "Later"}, true, false},
        {"older, automatic, Yes", "1.9", false, 1, {"Download", "Never", "Later"}, true, false},
        {"automatic, Don't Ask Again",
         "2.1",
         false,
         0,
         {"Download", "Never", "Later"},
         false,
         true},
        {"automatic, No", "2.1", false, -1, {"Download", "Never", "Later"}, false, false},
        {"user, Yes", "2.1", true, 1, {"Download", "Later"}, true, false},
        // The second of two buttons is "No", however the alert numbers it.
        {"user, second button", "2.1", true, 0, {"Download", "Later"}, false, false},
        {"user, other button", "2.1", true, -1, {"Download", "Later"}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(app::setPersistentDomain({{kAutoKey, true}}, kDomain));
        opened_.clear();
        notifications_.clear();
        HttpServer server = HttpServer::withBody(databaseWith(c.databaseVersion));
        app::testing::AlertScript alerts;
        app::testing::LogCapture log;
        QStringList postedBeforeAlert;
        alerts.answer([&](app::Alert&) {
            postedBeforeAlert = notifications_;
            return c.answer;
        });
        check(server.url(), c.userInitiated, "2.0");

        ASSERT_EQ(alerts.shown().size(), 1u);
        EXPECT_EQ(alerts.shown()[0].messageText, "A new version");
        EXPECT_EQ(alerts.shown()[0].informativeText,
                  QString("Varno %1 can be downloaded.").arg(c.databaseVersion));
        EXPECT_EQ(alerts.shown()[0].buttons, c.buttons);
        EXPECT_EQ(postedBeforeAlert, QStringList{kDidChange});
        EXPECT_EQ(notifications_, QStringList({kDidChange, kFinished}));
        EXPECT_EQ(opened_, c.downloads ? QStringList{kDownload} : QStringList());
        EXPECT_EQ(defaults().dictionary.value(kAutoKey), QVariant(!c.disablesAutoCheck));
        expectDateWritten();
        EXPECT_EQ(
            log.countEndingWith(QString("Varno version %1 is available.").arg(c.databaseVersion)),
            1);
    }
}

TEST_F(KVXUpdateTest, DontAskAgainWritesNoThenTheDateThenPosts) {
    HttpServer server = HttpServer::withBody(databaseWith("2.1"));
    ASSERT_TRUE(app::setPersistentDomain({{kAutoKey, true}, {"Other", "kept"}}, kDomain));
    alerts_.answer(app::Alert::kAlternateReturn);
    QVariantMap atFinish;
    app::NotificationCenter::defaultCenter().addObserver(
        &atFinish, kFinished, nullptr,
        [&](const app::Notification&) { atFinish = defaults().dictionary; });
    check(server.url(), false, "2.0");
    app::NotificationCenter::defaultCenter().removeObserver(&atFinish);

    EXPECT_EQ(atFinish.value(kAutoKey), QVariant(false));
    EXPECT_EQ(atFinish.value(kLastKey).typeId(), QMetaType::QDateTime);
    EXPECT_EQ(atFinish.value("Other"), "kept");
    EXPECT_TRUE(opened_.isEmpty());
}

TEST_F(KVXUpdateTest, NoVersionFromTheDatabaseEndsTheCheckQuietly) {
    const QByteArray noEntry = database({{"Other App", QVariantMap{{"Current Version", "1"}}}});
    const QByteArray noVersion =
        database({{kApp, QVariantMap{{"Download URL", QString(kDownload)}}}});
    const QByteArray numberVersion =
        database({{kApp, QVariantMap{{"Current Version", 2}, {"Download URL", kDownload}}}});
    struct Case {
        const char* name;
        std::optional<QByteArray> body;  // none: the server is down
        const char* status;
    };
    const Case cases[] = {
        {"missing entry", noEntry, "200 OK"},
        {"entry without a version", noVersion, "200 OK"},
        {"version that is not a string", numberVersion, "200 OK"},
        {"server error", databaseWith("2.1"), "500 Internal Server Error"},
        {"not found", databaseWith("2.1"), "404 Not Found"},
        {"not a property list", QByteArray("<html>hello</html>"), "200 OK"},
        {"not a dictionary", QByteArray("<plist><array/></plist>"), "200 OK"},
        {"server down", std::nullopt, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        app::testing::LogCapture log;
        QUrl url = deadURL();
        std::unique_ptr<HttpServer> live;
        if (c.body) {
            live = std::make_unique<HttpServer>(
                std::string("HTTP/1.1 ") + c.status + "\r\nConnection: close\r\nContent-Length: " +
                std::to_string(c.body->size()) + "\r\n\r\n" + c.body->toStdString());
            url = live->url();
        }
        check(url, true, "2.0");

        EXPECT_EQ(log.lines().size(), 2);
        EXPECT_EQ(log.countEndingWith("Checking for updates..."), 1);
        EXPECT_EQ(log.countEndingWith("Check for updates timed out."), 1);
        EXPECT_TRUE(alerts_.shown().empty());
        EXPECT_TRUE(notifications_.isEmpty());
        EXPECT_EQ(defaults().state, app::FileState::Missing);
        if (live) {
            EXPECT_EQ(live->requestLines().size(), 1u);
        }
    }
}

TEST_F(KVXUpdateTest, ANilRunningVersionIsTheBundleVersion) {
    HttpServer server = HttpServer::withBody(databaseWith("2.0"));
    check(server.url(), false, QString());
    EXPECT_TRUE(alerts_.shown().empty());
    EXPECT_EQ(log_.countEndingWith("Varno is up-to-date."), 1);

    // A given version wins over the bundle's, even an empty one.
    check(server.url(), false, "");
    ASSERT_EQ(alerts_.shown().size(), 1u);

    // No version anywhere: whatever the database lists is offered.
    writeInfo({{"CFBundleIdentifier", kDomain}});
    check(server.url(), false, QString());
    ASSERT_EQ(alerts_.shown().size(), 2u);
    EXPECT_EQ(alerts_.shown()[1].informativeText, "Varno 2.0 can be downloaded.");
}

TEST_F(KVXUpdateTest, AStringsTableWithoutTheKeysShowsTheKeys) {
    writeStrings("\"Unrelated\" = \"text\";\n");
    HttpServer upToDate = HttpServer::withBody(databaseWith("2.0"));
    check(upToDate.url(), true, "2.0");
    HttpServer newer = HttpServer::withBody(databaseWith("2.1"));
    check(newer.url(), false, "2.0");

    ASSERT_EQ(alerts_.shown().size(), 2u);
    EXPECT_EQ(alerts_.shown()[0].messageText, "Up-To-Date window title");
    EXPECT_EQ(alerts_.shown()[0].informativeText, "Up-To-Date window body");
    EXPECT_EQ(alerts_.shown()[0].buttons, QStringList{"OK"});
    EXPECT_EQ(alerts_.shown()[1].messageText, "Update Available window title");
    EXPECT_EQ(alerts_.shown()[1].informativeText, "Update Available window body");
    EXPECT_EQ(alerts_.shown()[1].buttons, QStringList({"Yes", "Don't Ask Again", "No"}));
}

TEST_F(KVXUpdateTest, TextsFromTheNetworkAreNotFormatsAndNotAddressesToRun) {
    // A version with format directives is shown as it stands; an address that
    // is not a web address is never handed to the opener.
    const QByteArray body = database(
        {{kApp, QVariantMap{{"Current Version", "%@%s%d"}, {"Download URL", "file:///bin/sh"}}}});
    HttpServer server = HttpServer::withBody(body);
    check(server.url(), false, "2.0");
    ASSERT_EQ(alerts_.shown().size(), 1u);
    EXPECT_EQ(alerts_.shown()[0].informativeText, "Varno %@%s%d can be downloaded.");
    EXPECT_TRUE(opened_.isEmpty());
    expectDateWritten();
}

TEST(KVXUpdateConstants, HaveTheirValues) {
    EXPECT_EQ(KVXUpdateCheckAtLaunchDefault, "KVXUpdate: Check at launch");
    EXPECT_EQ(KVXUpdateLastCheckedDefault, "KVXUpdate: Last checked");
    EXPECT_EQ(KVXUpdateDefaultsDidChangeNotification, "KVXUpdateDefaultsDidChangeNotification");
    EXPECT_EQ(KVXUpdateVersionsDictURL, "http://www.kvxlabs.com/KVXUpdateDatabase.xml");
}

}  // namespace
