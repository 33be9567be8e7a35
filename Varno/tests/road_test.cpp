// The road of a scheduled queue with the real agent: its schedule check
// finds due configurations, the countdown runs out, it launches the built
// Varno, which fetches the action over the private session bus, runs the
// queue through the real executor in a sandbox root, sets the next date and
// has the agent look again; the agent then finds the next due one, or
// nothing.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimeZone>
#include <memory>

#include "AgentDebug.h"
#include "VarnoAgentDelegate.h"
#include "app/plistbridge.h"
#include "app/testing.h"
#include "host/testing.h"
#include "plist/plist.h"
#include "sandbox/sandbox.h"

namespace {

const char kDomainPath[] = "/var/root/Library/Preferences/com.kvxlabs.Varno2.plist";

QVariantMap scheduleConfiguration(const QString& name, const QString& queue, const QDateTime& next,
                                  int interval) {
    return {{"ConfigurationName", name},
            {"QueueName", queue},
            {"Enabled", true},
            {"NextExecution", next},
            {"Interval", interval}};
}

QVariantMap cleanCaches(const QString& key) {
    return {{"Configurations", QVariantList{QVariantMap{{"KVXAEIdentifierAuthExecConfigurationKey",
                                                         "KVXAEUserSystemCleanCachesAuthExec"},
                                                        {key, true}}}}};
}

class RoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app::testing::usePrivateSessionBus();
        app::testing::ensureApplication();
        sandbox::build(root_);
        previousDebug_ = KVXDEBUG;
        KVXDEBUG = true;
        agent_ = std::make_unique<VarnoAgentDelegate>();
        agent_->setBundlePath(
            QString::fromStdString(host::testing::bundlePath("Contents/Resources/VarnoAgent.app")));
        agent_->setScheduleCheckInterval(50);
        // A countdown of 30 ticks, long enough for the Varno before to end.
        agent_->setCountdownTickInterval(20);
        agent_->setTerminateHandler([this] { ++terminations_; });
    }
    void TearDown() override {
        agent_.reset();
        KVXDEBUG = previousDebug_;
    }

    void writeDomain(const QVariantMap& domain) {
        root_.writeFile(kDomainPath, plist::writeXML(*app::plistFromVariant(domain)));
    }
    QVariantList schedule() const {
        auto value = plist::parse(root_.readFile(kDomainPath).value_or(""));
        if (!value) return {};
        return app::variantFromPlist(*value)
            .toMap()
            .value("Configurations")
            .toMap()
            .value("Schedule")
            .toList();
    }
    int lines(const QString& ending) const { return log_.countEndingWith(ending); }

    host::testing::SandboxRoot root_;
    app::testing::LogCapture log_;
    app::testing::AlertScript alerts_;
    std::unique_ptr<VarnoAgentDelegate> agent_;
    bool previousDebug_ = false;
    int terminations_ = 0;
};

TEST_F(RoadTest, TwoDueSchedulesRunOneAfterTheOtherInDateOrder) {
    root_.writeFile("/Library/Caches/com.apple.Spotlight/index", "index");
    const char audio[] = "/Library/Caches/com.apple.Components2.LocalCache.AudioComponents";
    root_.writeFile(audio, "audio");
    const QDateTime now = QDateTime::fromSecsSinceEpoch(
        QDateTime::currentDateTimeUtc().toSecsSinceEpoch(), QTimeZone::utc());
    // Stored later first: the earlier date goes first all the same.
    const QVariantMap later = scheduleConfiguration("Later", "Audio", now.addSecs(-60), 1);
    const QVariantMap earlier = scheduleConfiguration("Earlier", "Spotlight", now.addSecs(-120), 2);
    writeDomain({{"Queues", QVariantMap{{"Audio", cleanCaches("UserAudio")},
                                        {"Spotlight", cleanCaches("UserSpotlight")}}},
                 {"Configurations", QVariantMap{{"Schedule", QVariantList{later, earlier}}}}});

    agent_->applicationDidFinishLaunching();
    ASSERT_TRUE(app::testing::waitUntil(
        [&] {
            return lines("]: waitingActionReceived") == 2 &&
                   lines("]: startScheduleCheckTimer") == 3;
        },
        240000))
        << log_.lines().join('\n').toStdString();
    // Both Varno runs have told the agent to look again; the last look finds nothing due.
    ASSERT_TRUE(app::testing::waitUntil([&] { return !agent_->waitingAction().has_value(); }));
    app::testing::spin(300);

    EXPECT_FALSE(root_.exists("/Library/Caches/com.apple.Spotlight"));
    EXPECT_FALSE(root_.exists(audio));
    const QStringList found = log_.lines().filter("Unrun scheduled queue found: ");
    ASSERT_EQ(found.size(), 2) << found.join('\n').toStdString();
    EXPECT_TRUE(found[0].endsWith(": Spotlight"));
    EXPECT_TRUE(found[1].endsWith(": Audio"));
    const QVariantList stored = schedule();
    ASSERT_EQ(stored.size(), 2);
    EXPECT_EQ(stored[0].toMap().value("NextExecution").toDateTime(), now.addSecs(-60).addDays(1));
    EXPECT_EQ(stored[1].toMap().value("NextExecution").toDateTime(), now.addSecs(-120).addDays(7));
    EXPECT_TRUE(agent_->unrunScheduleConfigurations().isEmpty());
    EXPECT_TRUE(agent_->scheduleCheckTimer() && agent_->scheduleCheckTimer()->isActive());
    EXPECT_EQ(terminations_, 0);
    EXPECT_TRUE(alerts_.shown().empty());
}

// The agent's startup check after a crash hands over the hard-restart queue;
// with no schedule enabled, it quits when Varno has it look again.
TEST_F(RoadTest, AfterASimulatedCrashTheHardRestartQueueRuns) {
    root_.writeFile("/private/var/log/system.log", "log");
    root_.writeFile("/private/var/db/varno-sandbox/last",
                    "admin\tconsole\t\tMon Dec  8 09:13\t  still logged in\n"
                    "reboot\t~\t\tMon Dec  8 09:12\t\n"
                    "admin\tconsole\t\tSun Dec  7 08:55\t- crash  (00:12)\n");
    writeDomain(
        {{"Queues",
          QVariantMap{{"AfterCrash", QVariantMap{{"Configurations",
                                                  QVariantList{QVariantMap{
                                                      {"KVXAEIdentifierAuthExecConfigurationKey",
                                                       "KVXAEUserSystemCleanLogsAuthExec"},
                                                      {"SystemSystem", true}}}}}}}},
         {"AutomaticExecution",
          QVariantMap{{"HardRestartQueueEnabled", true}, {"HardRestartQueueName", "AfterCrash"}}}});

    agent_->applicationDidFinishLaunching();
    ASSERT_TRUE(app::testing::waitUntil([&] { return terminations_ > 0; }, 240000))
        << log_.lines().join('\n').toStdString();
    EXPECT_EQ(lines("]: (hard restart)"), 1);
    EXPECT_EQ(lines("]: waitingActionReceived"), 1);
    EXPECT_EQ(lines("]: No active schedules. Quitting..."), 1);
    EXPECT_FALSE(root_.exists("/private/var/log/system.log"));
}

// A report left before an automatic restart is shown once and removed.
TEST_F(RoadTest, TheReportOfAQueueBeforeARestartIsTakenAndCleared) {
    writeDomain(
        {{"AutorestartedQueueConfig", QVariantMap{{"Queue", "Weekly"}}}, {"Other", "kept"}});
    agent_->applicationDidFinishLaunching();
    ASSERT_TRUE(app::testing::waitUntil([&] { return terminations_ > 0; }, 240000))
        << log_.lines().join('\n').toStdString();
    EXPECT_EQ(lines("]: waitingActionReceived"), 1);
    auto value = plist::parse(root_.readFile(kDomainPath).value_or(""));
    ASSERT_TRUE(value);
    const QVariantMap domain = app::variantFromPlist(*value).toMap();
    EXPECT_FALSE(domain.contains("AutorestartedQueueConfig"));
    EXPECT_EQ(domain.value("Other"), QVariant("kept"));
}

}  // namespace
