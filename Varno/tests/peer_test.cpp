// Varno started without a command, as the agent starts it: on a private
// session bus a stand-in agent serves a waiting action; Varno runs the queue
// through the real executor in a sandbox root, acknowledges the action, sets
// the schedule's next date and has the agent check its schedule again.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDateTime>
#include <QProcess>
#include <QTimeZone>
#include <string>

#include "app/plistbridge.h"
#include "app/testing.h"
#include "host/testing.h"
#include "plist/plist.h"
#include "sandbox/sandbox.h"

namespace {

const char kDomainPath[] = "/var/root/Library/Preferences/com.kvxlabs.Varno2.plist";
const char kCaches[] = "KVXAEUserSystemCleanCachesAuthExec";
const char kLogs[] = "KVXAEUserSystemCleanLogsAuthExec";

// The agent's root object as Varno sees it: serves a waiting action and
// notes every call, with what the preferences said when the schedule check
// was asked to start again.
class FakeAgent : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.kvxlabs.Varno2.agent")
  public:
    explicit FakeAgent(const host::testing::SandboxRoot& root) : root_(root) {}

    QString action;
    QStringList calls;
    bool varnoServedAtFetch = false;
    std::string domainAtRestart;

  public Q_SLOTS:
    QString waitingAction() {
        calls << QStringLiteral("waitingAction");
        varnoServedAtFetch = QDBusConnection::sessionBus()
                                 .interface()
                                 ->isServiceRegistered(QStringLiteral("com.kvxlabs.Varno2"))
                                 .value();
        return action;
    }
    void waitingActionReceived() { calls << QStringLiteral("waitingActionReceived"); }
    int workingAction() { return 1; }
    void startScheduleCheckTimer() {
        calls << QStringLiteral("startScheduleCheckTimer");
        domainAtRestart = root_.readFile(kDomainPath).value_or("");
    }
    void checkSchedule() { calls << QStringLiteral("checkSchedule"); }

  private:
    const host::testing::SandboxRoot& root_;
};

QDateTime wholeSeconds(const QDateTime& t) {
    return QDateTime::fromSecsSinceEpoch(t.toSecsSinceEpoch(), QTimeZone::utc());
}

QVariantMap scheduleConfiguration(const QString& name, const QString& queue, bool enabled,
                                  const QDateTime& next, int interval) {
    return {{"ConfigurationName", name},
            {"QueueName", queue},
            {"Enabled", enabled},
            {"NextExecution", next},
            {"Interval", interval}};
}

QVariantMap queueOf(const QVariantMap& request) {
    return {{"Configurations", QVariantList{request}}};
}

class PeerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app::testing::usePrivateSessionBus();
        app::testing::ensureApplication();
        sandbox::build(root_);
        bus_ = QDBusConnection::sessionBus();
        ASSERT_TRUE(bus_.isConnected());
    }

    void TearDown() override {
        if (serving_) {
            bus_.unregisterService(QStringLiteral("com.kvxlabs.Varno2.agent"));
            bus_.unregisterObject(QStringLiteral("/"));
        }
    }

    void serveAgent() {
        ASSERT_TRUE(
            bus_.registerObject(QStringLiteral("/"), &agent_, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(bus_.registerService(QStringLiteral("com.kvxlabs.Varno2.agent")));
        serving_ = true;
    }

    void serveAction(int code, const QVariant& context) {
        QVariantMap action{{"KVXActionWaitingAgentActionKey", code}};
        if (context.isValid()) action.insert("KVXContextInfoWaitingAgentActionKey", context);
        auto document = app::xmlPropertyList(action);
        ASSERT_TRUE(document);
        agent_.action = QString::fromUtf8(*document);
        serveAgent();
    }

    void writeDomain(const QVariantMap& domain) {
        auto value = app::plistFromVariant(domain);
        ASSERT_TRUE(value);
        root_.writeFile(kDomainPath, plist::writeXML(*value));
    }
    QVariantMap readDomain() const {
        auto bytes = root_.readFile(kDomainPath);
        if (!bytes) return {};
        auto value = plist::parse(*bytes);
        return value ? app::variantFromPlist(*value).toMap() : QVariantMap();
    }

    struct Result {
        int status = -1;
        std::string out;
        std::string err;
    };
    // Runs Varno while this thread keeps serving the bus.
    Result varno(const QStringList& arguments = {}) {
        QProcess process;
        process.start(QString::fromLocal8Bit(qgetenv("VARNO_PROGRAM")), arguments);
        EXPECT_TRUE(app::testing::waitUntil([&] { return process.state() == QProcess::NotRunning; },
                                            240000))
            << "Varno did not end";
        Result r;
        r.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        r.out = process.readAllStandardOutput().toStdString();
        r.err = process.readAllStandardError().toStdString();
        return r;
    }

    host::testing::SandboxRoot root_;
    QDBusConnection bus_{QString()};
    FakeAgent agent_{root_};
    bool serving_ = false;
};

TEST_F(PeerTest, ScheduledQueueRunsThenItsNextDateMovesOnByTheInterval) {
    for (const QStringList& arguments : {QStringList{}, QStringList{"-DEBUG"}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        if (serving_) TearDown();
        agent_.calls.clear();
        root_.writeFile("/Library/Caches/com.apple.Spotlight/index", "index");
        ASSERT_TRUE(root_.exists("/Library/Caches/com.apple.Spotlight"));

        const QDateTime due = wholeSeconds(QDateTime::currentDateTimeUtc().addSecs(-3600));
        const QDateTime later = due.addDays(3);
        const QVariantMap nightly = scheduleConfiguration("Nightly", "Tidy", true, due, 2);
        const QVariantMap other = scheduleConfiguration("Other", "Tidy", true, later, 1);
        const QVariantMap domain{
            {"Queues",
             QVariantMap{{"Tidy", queueOf({{"KVXAEIdentifierAuthExecConfigurationKey", kCaches},
                                           {"UserSpotlight", true}})}}},
            {"Configurations", QVariantMap{{"Schedule", QVariantList{nightly, other}}}},
            {"LastSeenHostSession", due.addDays(-1)},
            {"SomethingElse", QVariantList{1, "two"}}};
        writeDomain(domain);
        serveAction(2, nightly);

        const Result r = varno(arguments);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_FALSE(root_.exists("/Library/Caches/com.apple.Spotlight")) << r.out;
        EXPECT_NE(r.out.find("Scheduled queue \"Tidy\" (schedule \"Nightly\")"), std::string::npos)
            << r.out;
        EXPECT_EQ(agent_.calls, (QStringList{"waitingAction", "waitingActionReceived",
                                             "startScheduleCheckTimer"}));
        EXPECT_TRUE(agent_.varnoServedAtFetch);
        EXPECT_EQ(r.err.find("DEBUG: ") != std::string::npos, !arguments.isEmpty()) << r.err;

        // One interval (a week) on; the rest of the domain as it was.
        QVariantMap expected = domain;
        QVariantMap advanced = nightly;
        advanced.insert("NextExecution", due.addDays(7));
        expected.insert("Configurations", QVariantMap{{"Schedule", QVariantList{advanced, other}}});
        EXPECT_EQ(readDomain(), expected);
        // Written before the agent was asked to look again: it finds nothing due.
        auto atRestart = plist::parse(agent_.domainAtRestart);
        ASSERT_TRUE(atRestart);
        EXPECT_EQ(app::variantFromPlist(*atRestart).toMap(), expected);
        // The name is given up at the end.
        EXPECT_FALSE(
            bus_.interface()->isServiceRegistered(QStringLiteral("com.kvxlabs.Varno2")).value());
    }
}

TEST_F(PeerTest, HardRestartActionRunsTheNamedQueueAndLeavesTheSchedule) {
    root_.writeFile("/private/var/log/system.log", "log");
    const QVariantMap domain{
        {"Queues",
         QVariantMap{{"AfterCrash", queueOf({{"KVXAEIdentifierAuthExecConfigurationKey", kLogs},
                                             {"SystemSystem", true}})}}},
        {"AutomaticExecution",
         QVariantMap{{"HardRestartQueueEnabled", true}, {"HardRestartQueueName", "AfterCrash"}}},
        {"Configurations",
         QVariantMap{{"Schedule", QVariantList{scheduleConfiguration(
                                      "N", "AfterCrash", true,
                                      wholeSeconds(QDateTime::currentDateTimeUtc()), 1)}}}}};
    writeDomain(domain);
    const std::string before = root_.readFile(kDomainPath).value();
    serveAction(1, QStringLiteral("AfterCrash"));

    const Result r = varno();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(root_.exists("/private/var/log/system.log"));
    EXPECT_EQ(agent_.calls,
              (QStringList{"waitingAction", "waitingActionReceived", "startScheduleCheckTimer"}));
    EXPECT_EQ(root_.readFile(kDomainPath).value(), before);
}

TEST_F(PeerTest, ReportActionShowsTheReportAndRemovesIt) {
    const QVariantMap report{{"Queue", "Before restart"}, {"Succeeded", true}};
    const QVariantMap domain{
        {"AutorestartedQueueConfig", report},
        {"LastSeenHostSession", wholeSeconds(QDateTime::currentDateTimeUtc())}};
    writeDomain(domain);
    serveAction(0, report);

    const Result r = varno();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Report of the queue run before the automatic restart:\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("<string>Before restart</string>"), std::string::npos) << r.out;
    QVariantMap expected = domain;
    expected.remove("AutorestartedQueueConfig");
    EXPECT_EQ(readDomain(), expected);
    EXPECT_EQ(agent_.calls,
              (QStringList{"waitingAction", "waitingActionReceived", "startScheduleCheckTimer"}));
}

TEST_F(PeerTest, AMissingQueueStillMovesTheScheduleOnAndAOneOffIsDisabled) {
    const QDateTime due = wholeSeconds(QDateTime::currentDateTimeUtc().addDays(-10));
    const QVariantMap daily = scheduleConfiguration("Daily", "Gone", true, due, 1);
    const QVariantMap once = scheduleConfiguration("Once", "Gone", true, due, 99);
    writeDomain({{"Configurations", QVariantMap{{"Schedule", QVariantList{daily, once}}}}});
    serveAction(2, daily);
    Result r = varno();
    EXPECT_EQ(r.status, 64);
    EXPECT_NE(r.err.find("there is no queue named \"Gone\""), std::string::npos) << r.err;
    // Ten days behind, a day apart: the first date after now is eleven days on.
    const QVariantList schedule =
        readDomain().value("Configurations").toMap().value("Schedule").toList();
    EXPECT_EQ(schedule.value(0).toMap().value("NextExecution").toDateTime(), due.addDays(11));
    EXPECT_EQ(agent_.calls.last(), "startScheduleCheckTimer");

    TearDown();
    agent_.calls.clear();
    serveAction(2, once);
    r = varno();
    EXPECT_NE(r.out.find("Schedule \"Once\" does not repeat: disabled"), std::string::npos)
        << r.out;
    const QVariantMap stored =
        readDomain().value("Configurations").toMap().value("Schedule").toList().value(1).toMap();
    EXPECT_EQ(stored.value("Enabled"), QVariant(false));
    EXPECT_EQ(stored.value("NextExecution").toDateTime(), due);
}

TEST_F(PeerTest, AnUnreadableDomainIsNeverWrittenAndTheAgentStillLooksAgain) {
    root_.writeFile(kDomainPath, "<plist><dict>");
    serveAction(2, scheduleConfiguration("N", "Q", true, QDateTime::currentDateTimeUtc(), 1));
    const Result r = varno();
    EXPECT_EQ(r.status, 74);
    EXPECT_NE(r.err.find(kDomainPath), std::string::npos) << r.err;
    EXPECT_EQ(root_.readFile(kDomainPath).value(), "<plist><dict>");
    EXPECT_EQ(agent_.calls,
              (QStringList{"waitingAction", "waitingActionReceived", "startScheduleCheckTimer"}));
}

TEST_F(PeerTest, WithoutAWaitingActionOrAnAgentNothingIsDone) {
    writeDomain({{"Queues", QVariantMap{}}});
    const std::string before = root_.readFile(kDomainPath).value();

    Result r = varno();
    EXPECT_EQ(r.status, 69);
    EXPECT_NE(r.err.find("the agent \"com.kvxlabs.Varno2.agent\" is not running"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("usage: Varno"), std::string::npos);

    serveAgent();  // with no action
    r = varno();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Nothing waits to be done: the agent holds no waiting action.\n");
    EXPECT_EQ(agent_.calls, QStringList{"waitingAction"});
    EXPECT_EQ(root_.readFile(kDomainPath).value(), before);
}

TEST_F(PeerTest, ASecondVarnoLeavesTheActionToTheOneServing) {
    QDBusConnection other =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("first-varno"));
    ASSERT_TRUE(other.registerService(QStringLiteral("com.kvxlabs.Varno2")));
    serveAction(2, scheduleConfiguration("N", "Q", true, QDateTime::currentDateTimeUtc(), 1));
    const Result r = varno();
    EXPECT_EQ(r.status, 69);
    EXPECT_NE(r.err.find("is another Varno serving the agent?"), std::string::npos) << r.err;
    EXPECT_TRUE(agent_.calls.isEmpty());
    QDBusConnection::disconnectFromBus(QStringLiteral("first-varno"));
}

}  // namespace

#include "peer_test.moc"
