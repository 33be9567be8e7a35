// The schedule: which configuration is counted down, what each answer to the
// countdown and its dialogs does to the preferences, the launch agent and the
// main application, and preferences the agent cannot use.
#include <QDateTimeEdit>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "CountdownAlert.h"
#include "agent_test_support.h"
#include "schedule/launchagent.h"

namespace {

using agent_test::configuration;
using agent_test::domainWithSchedule;
using agent_test::kNow;

class ScheduleTest : public agent_test::AgentTest {
  protected:
    bool countingDown() { return delegate_->countdownAlert()->window()->isVisible(); }
    QString countdownText() {
        return delegate_->countdownAlert()->informativeTextTextField()->text();
    }
    QVariantMap scheduleEntry(int index) {
        return readDomain()
            .value(KVXConfigurationsDefaultsKey)
            .toMap()
            .value(KVXScheduleTask)
            .toList()
            .value(index)
            .toMap();
    }
    std::vector<sandbox::JournalEntry> launchctlRuns(size_t atLeast) {
        std::vector<sandbox::JournalEntry> runs;
        app::testing::waitUntil([&] {
            runs.clear();
            for (auto& e : sandbox::readJournal(root_))
                if (!e.argv.empty() && e.argv[0] == "/bin/launchctl") runs.push_back(e);
            return runs.size() >= atLeast;
        });
        return runs;
    }
};

TEST_F(ScheduleTest, TheEarlierOfTwoDueQueuesIsCountedDownAndHandedOverWhole) {
    QVariantMap earlier = configuration("b", "Earlier", true, kNow.addSecs(-3600), 2);
    earlier.insert("Queue", QVariantList{"clean caches", QByteArray("\x01\x02", 2)});
    const QVariantMap later = configuration("a", "Later", true, kNow.addSecs(-60));
    writeDomain(domainWithSchedule({later, earlier}));

    delegate_->startScheduleCheckTimer();
    // The first check runs at once.
    ASSERT_TRUE(countingDown());
    EXPECT_EQ(countdownText(),
              "The queue \"Earlier\" will begin scheduled execution in 30 seconds...");
    EXPECT_EQ(delegate_->countdownAlert()->window()->windowTitle(), "Varno");
    EXPECT_EQ(delegate_->countdownAlert()->titleTextField()->text(), "Scheduled Queue");
    EXPECT_EQ(delegate_->countdownAlert()->firstButton()->text(), "Start Now");
    EXPECT_EQ(delegate_->countdownAlert()->secondButton()->text(), "Postpone");
    EXPECT_EQ(delegate_->countdownAlert()->thirdButton()->text(), "Disable");
    EXPECT_EQ(delegate_->workingAction(), 1);
    EXPECT_FALSE(delegate_->scheduleCheckTimer()->isActive());
    EXPECT_EQ(log_.countEndingWith("Unrun scheduled queue found: Earlier"), 1);

    // Thirty steps later the queue goes to the main application.
    ASSERT_TRUE(app::testing::waitUntil([&] { return delegate_->waitingAction().has_value(); }));
    const QVariantMap expected{{KVXActionWaitingAgentActionKey, 2},
                               {KVXContextInfoWaitingAgentActionKey, earlier}};
    EXPECT_EQ(*delegate_->waitingAction(), expected);
    EXPECT_EQ(launches(1), QStringList{"1:-DEBUG"});
    EXPECT_EQ(log_.countEndingWith("countdownWindowDidCloseWithReturnCode: 0"), 1);
    EXPECT_FALSE(countingDown());
    EXPECT_EQ(terminations_, 0);
    // Nothing restarts the schedule check: the next countdown waits for the
    // main application.
    app::testing::spin(60);
    EXPECT_FALSE(countingDown());
    EXPECT_EQ(launches().size(), 1);
}

TEST_F(ScheduleTest, DueMeansNotLaterThanNow) {
    const std::pair<qint64, bool> cases[] = {
        {0, true}, {-1, true}, {-86400000, true}, {1, false}, {1000, false}};
    for (const auto& [offset, due] : cases) {
        // Binary, which keeps fractions of a second.
        writeDomain(domainWithSchedule({configuration("c", "Q", true, kNow.addMSecs(offset))}),
                    /*binary=*/true);
        EXPECT_EQ(delegate_->unrunScheduleConfigurations().size(), due ? 1 : 0) << offset;
    }
}

TEST_F(ScheduleTest, OnASandboxOnlyStartNowInTheEnvironmentAnswersTheCountdownAtOnce) {
    // The one that answers comes last: the log counts over all cases.
    const std::pair<const char*, bool> cases[] = {
        {"Start Now", false}, {"postpone", false}, {"", false}, {"start-now", true}};
    for (const auto& [answer, answered] : cases) {
        delegate_ = makeDelegate(connection_);
        // Steps of a second: here the countdown cannot run out by itself.
        delegate_->setCountdownTickInterval(1000);
        writeDomain(domainWithSchedule({configuration("c", "Q", true, kNow.addSecs(-60))}));
        ASSERT_EQ(setenv("VARNO_AGENT_COUNTDOWN_ANSWER", answer, 1), 0);
        delegate_->startScheduleCheckTimer();
        const bool handedOver =
            app::testing::waitUntil([&] { return delegate_->waitingAction().has_value(); }, 500);
        unsetenv("VARNO_AGENT_COUNTDOWN_ANSWER");
        EXPECT_EQ(handedOver, answered) << answer;
        EXPECT_EQ(countingDown(), !answered) << answer;
        EXPECT_EQ(log_.countEndingWith("countdownWindowDidCloseWithReturnCode: 1"),
                  answered ? 1 : 0)
            << answer;
        if (answered) {
            EXPECT_EQ(delegate_->waitingAction()->value(KVXActionWaitingAgentActionKey).toInt(), 2);
            EXPECT_EQ(launches(1), QStringList{"1:-DEBUG"});
        }
    }
}

TEST_F(ScheduleTest, ADisabledPastConfigurationIsNeverCountedDown) {
    writeDomain(domainWithSchedule({configuration("old", "Old", false, kNow.addDays(-3)),
                                    configuration("new", "New", true, kNow.addDays(1))}));
    delegate_->startScheduleCheckTimer();
    app::testing::spin(100);  // several checks
    EXPECT_TRUE(delegate_->scheduleCheckTimer()->isActive());
    EXPECT_FALSE(countingDown());
    EXPECT_EQ(log_.countEndingWith("Unrun scheduled queue found: Old"), 0);
    EXPECT_EQ(terminations_, 0);
}

TEST_F(ScheduleTest, CancelInEitherDialogBringsTheCountdownBackForTheSameQueue) {
    const QVariantMap q = configuration("c", "Nightly", true, kNow.addSecs(-5));
    writeDomain(domainWithSchedule({q, configuration("d", "Other", true, kNow.addSecs(-1))}));
    const std::string before = *domainBytes();
    for (int button : {2, 3}) {
        delegate_->checkSchedule(nullptr);
        ASSERT_TRUE(countingDown());
        alerts_.answer(app::Alert::kAlternateReturn);
        CountdownAlert* c = delegate_->countdownAlert();
        (button == 2 ? c->secondButton() : c->thirdButton())->click();
        EXPECT_TRUE(countingDown()) << button;
        EXPECT_TRUE(countdownText().contains("\"Nightly\"")) << button;
        c->firstButton()->click();  // ends this round: hands "Nightly" over
    }
    ASSERT_EQ(alerts_.shown().size(), 2u);
    const auto& postpone = alerts_.shown()[0];
    EXPECT_EQ(postpone.messageText, "Postpone Execution");
    EXPECT_EQ(postpone.informativeText, "Select a new execution date for the queue \"Nightly\":");
    EXPECT_EQ(postpone.buttons, (QStringList{"OK", "Cancel"}));
    EXPECT_EQ(postpone.windowTitle, "Varno");
    EXPECT_TRUE(postpone.hasAccessory);
    const auto& disable = alerts_.shown()[1];
    EXPECT_EQ(disable.messageText, "Disable Scheduled Queue");
    EXPECT_EQ(disable.informativeText,
              "Are you sure you want to disable the scheduled queue \"Nightly\"?");
    EXPECT_EQ(disable.buttons, (QStringList{"Yes", "Cancel"}));
    EXPECT_EQ(disable.windowTitle, "Varno");
    EXPECT_EQ(*domainBytes(), before);
    EXPECT_EQ(launches(2).size(), 2);
}

TEST_F(ScheduleTest, PostponeOffersNowPlusTheIntervalAndStoresThePickedDate) {
    const struct {
        int interval;
        qint64 days;
    } cases[] = {{0, 1}, {1, 1}, {2, 7}, {3, 14}, {4, 30}, {5, 61}, {6, 0}, {-1, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(VarnoAgentDelegate::timeIntervalForScheduleInterval(c.interval),
                  c.days * 86400.0);
        QVariantMap extra{{"AutomaticExecution", QVariantMap{{"HardRestartQueueEnabled", true}}},
                          {"Unrelated", QVariantList{1, "two"}}};
        writeDomain(
            domainWithSchedule({configuration("keep", "Keep", false, kNow.addDays(-9)),
                                configuration("c", "Weekly", true, kNow.addSecs(-30), c.interval)},
                               extra));
        QDateTime offered;
        const QDateTime picked = kNow.addDays(3).addSecs(120);
        alerts_.answer([&](app::Alert& alert) {
            auto* picker = qobject_cast<QDateTimeEdit*>(alert.accessoryView());
            offered = picker->dateTime();
            picker->setDateTime(picked);
            return app::Alert::kDefaultReturn;
        });
        delegate_->postponeScheduledQueue();
        EXPECT_EQ(offered, kNow.addDays(c.days)) << c.interval;
        const QVariantMap written = readDomain();
        EXPECT_EQ(scheduleEntry(1).value(KVXNextExecutionScheduleConfigurationKey).toDateTime(),
                  picked);
        // Everything else stays as it was.
        QVariantMap expected =
            domainWithSchedule({configuration("keep", "Keep", false, kNow.addDays(-9)),
                                configuration("c", "Weekly", true, picked, c.interval)},
                               extra);
        EXPECT_EQ(written, expected) << c.interval;
        EXPECT_FALSE(countingDown());  // no longer due
    }
}

TEST_F(ScheduleTest, PostponingIntoThePastBringsTheCountdownBackAtOnce) {
    writeDomain(domainWithSchedule({configuration("c", "Nightly", true, kNow.addSecs(-5))}));
    delegate_->checkSchedule(nullptr);
    const QDateTime past = kNow.addDays(-2);
    alerts_.answer([&](app::Alert& alert) {
        qobject_cast<QDateTimeEdit*>(alert.accessoryView())->setDateTime(past);
        return app::Alert::kDefaultReturn;
    });
    delegate_->countdownAlert()->secondButton()->click();
    EXPECT_EQ(scheduleEntry(0).value(KVXNextExecutionScheduleConfigurationKey).toDateTime(), past);
    EXPECT_TRUE(countingDown());
    EXPECT_TRUE(countdownText().contains("\"Nightly\""));
}

TEST_F(ScheduleTest, DisablingTheOnlyEnabledOneRewritesAndUnloadsTheLaunchAgent) {
    const struct {
        const char* what;
        QVariantMap automatic;
        bool disabled;
    } cases[] = {
        {"no startup checks", {}, true},
        {"hard restart check", {{"HardRestartQueueEnabled", true}}, false},
        {"S.M.A.R.T. check", {{"SMARTStatusMonitorEnabled", true}}, false},
        {"both off", {{"HardRestartQueueEnabled", false}, {"SMARTStatusMonitorEnabled", 0}}, true},
    };
    const std::string autostartMachinePath = schedule::autostartPath().toStdString();
    size_t round = 0;
    for (const auto& c : cases) {
        ++round;
        writeDomain(domainWithSchedule({configuration("c", "Nightly", true, kNow.addSecs(-5))},
                                       {{"AutomaticExecution", c.automatic}}));
        root_.writeFile(autostartMachinePath, "[Desktop Entry]\n");
        delegate_->checkSchedule(nullptr);
        ASSERT_TRUE(countingDown()) << c.what;
        alerts_.answer(app::Alert::kDefaultReturn);
        delegate_->countdownAlert()->thirdButton()->click();

        EXPECT_FALSE(scheduleEntry(0).value(KVXEnabledScheduleConfigurationKey).toBool());
        EXPECT_FALSE(countingDown()) << c.what;
        auto written = plist::parse(*root_.readFile(launchAgentMachinePath()));
        ASSERT_TRUE(written) << c.what;
        plist::Dictionary expected;
        expected["Disabled"] = plist::Value::boolean(c.disabled);
        expected["Label"] = plist::Value("com.kvxlabs.Varno2.agent");
        expected["Program"] = plist::Value(
            (varnoBundle_ + "/Contents/Resources/VarnoAgent.app/Contents/MacOS/VarnoAgent")
                .toStdString());
        expected["RunAtLoad"] = plist::Value::boolean(true);
        expected["KeepAlive"] = plist::Value::boolean(false);
        expected["OnDemand"] = plist::Value::boolean(true);
        expected["LaunchOnlyOnce"] = plist::Value::boolean(true);
        EXPECT_EQ(*written, plist::Value(expected)) << c.what;
        // The desktop would start the agent at login without any work for it.
        EXPECT_EQ(root_.exists(autostartMachinePath), !c.disabled) << c.what;

        const auto runs = launchctlRuns(round);
        ASSERT_EQ(runs.size(), round) << c.what;
        EXPECT_EQ(runs.back().argv,
                  (std::vector<std::string>{"/bin/launchctl", "unload", launchAgentMachinePath()}));
    }
    EXPECT_EQ(launchAgentMachinePath(), app::homeFolder().toStdString() +
                                            "/Library/LaunchAgents/com.kvxlabs.Varno2.agent.plist");
    EXPECT_EQ(log_.countEndingWith("reconfigureLaunchAgent"), 4);
    EXPECT_TRUE(launches().isEmpty());
    EXPECT_EQ(terminations_, 0);
}

TEST_F(ScheduleTest, DisablingOneOfTwoLeavesTheLaunchAgentAlone) {
    writeDomain(domainWithSchedule({configuration("a", "First", true, kNow.addSecs(-9)),
                                    configuration("b", "Second", true, kNow.addSecs(-5))}));
    delegate_->checkSchedule(nullptr);
    alerts_.answer(app::Alert::kDefaultReturn);
    delegate_->countdownAlert()->thirdButton()->click();
    EXPECT_TRUE(countingDown());
    EXPECT_TRUE(countdownText().contains("\"Second\""));
    EXPECT_FALSE(root_.exists(launchAgentMachinePath()));
    // Asked directly, it does nothing while a configuration is enabled.
    const int lines = log_.lines().size();
    delegate_->reconfigureLaunchAgent();
    EXPECT_FALSE(root_.exists(launchAgentMachinePath()));
    EXPECT_EQ(log_.lines().size(), lines);
    EXPECT_TRUE(launchctlRuns(0).empty());
}

TEST_F(ScheduleTest, NothingEnabledQuitsAfterSayingSo) {
    writeDomain(domainWithSchedule({configuration("c", "Q", false, kNow.addDays(-1))}));
    delegate_->applicationDidFinishLaunching();
    EXPECT_EQ(terminations_, 1);
    EXPECT_EQ(log_.lines().first(), "Hello from VarnoAgent!");
    EXPECT_EQ(log_.countEndingWith("]: No active schedules. Quitting..."), 1);
    EXPECT_EQ(delegate_->scheduleCheckTimer(), nullptr);
    EXPECT_FALSE(countingDown());
}

TEST_F(ScheduleTest, AQueueThatVanishedBeforeTheAnswerIsNotRun) {
    writeDomain(domainWithSchedule({configuration("c", "Q", true, kNow.addSecs(-5)),
                                    configuration("d", "Later", true, kNow.addDays(2))}));
    delegate_->checkSchedule(nullptr);
    // The main application moves the date on while the countdown runs.
    writeDomain(domainWithSchedule({configuration("c", "Q", true, kNow.addDays(1)),
                                    configuration("d", "Later", true, kNow.addDays(2))}));
    delegate_->countdownAlert()->firstButton()->click();
    EXPECT_EQ(terminations_, 1);
    EXPECT_FALSE(delegate_->waitingAction().has_value());
    // The dialogs have nothing to ask about either: they look at the schedule again.
    delegate_ = makeDelegate(connection_);
    delegate_->postponeScheduledQueue();
    delegate_->disableScheduledQueue();
    EXPECT_TRUE(alerts_.shown().empty());
    EXPECT_FALSE(countingDown());
}

TEST_F(ScheduleTest, AFailedLaunchAlertsAndKeepsTheWaitingAction) {
    delegate_->setBundlePath(QString::fromStdString(bundles_.path()) +
                             "/Nowhere.app/Contents/Resources/VarnoAgent.app");
    const QVariantMap q = configuration("c", "Q", true, kNow.addSecs(-5));
    writeDomain(domainWithSchedule({q}));
    delegate_->checkSchedule(nullptr);
    delegate_->countdownAlert()->firstButton()->click();
    ASSERT_EQ(alerts_.shown().size(), 1u);
    EXPECT_EQ(alerts_.shown()[0].messageText, "Error Launching Varno");
    EXPECT_EQ(alerts_.shown()[0].informativeText,
              "VarnoAgent encountered an error while trying to launch Varno. Please report this "
              "to support@kvxlabs.com");
    EXPECT_EQ(alerts_.shown()[0].buttons, QStringList{"OK"});
    ASSERT_TRUE(delegate_->waitingAction().has_value());
    EXPECT_EQ(delegate_->waitingAction()->value(KVXContextInfoWaitingAgentActionKey).toMap(), q);
    EXPECT_EQ(terminations_, 0);
}

// Preferences the agent cannot use never stop it, and are never written over.
TEST_F(ScheduleTest, UnusablePreferencesCountAsNoSchedule) {
    const QVariantMap good = configuration("c", "Q", true, kNow.addSecs(-5));
    const struct {
        const char* what;
        std::optional<std::string> bytes;  // nullopt: no file
    } cases[] = {
        {"missing", std::nullopt},
        {"not a property list", std::string("\x00\x01garbage", 9)},
        {"empty", std::string()},
        {"array root", plist::writeXML(plist::Value(plist::Array{}))},
        {"Configurations a string",
         plist::writeXML(*app::plistFromVariant(QVariantMap{{"Configurations", "x"}}))},
        {"Schedule a string", plist::writeXML(*app::plistFromVariant(QVariantMap{
                                  {"Configurations", QVariantMap{{"Schedule", "x"}}}}))},
        {"entries no dictionaries",
         plist::writeXML(*app::plistFromVariant(domainWithSchedule({"x", 1, QVariantList{good}})))},
        {"Enabled a string",
         [&] {
             QVariantMap c = good;
             c.insert(KVXEnabledScheduleConfigurationKey, "YES");
             return plist::writeXML(*app::plistFromVariant(domainWithSchedule({c})));
         }()},
    };
    for (const auto& c : cases) {
        unlink(root_.real(domainMachinePath()).c_str());
        if (c.bytes) writeDomainBytes(*c.bytes);
        terminations_ = 0;
        delegate_ = makeDelegate(connection_);
        delegate_->startScheduleCheckTimer();
        EXPECT_EQ(terminations_, 1) << c.what;
        EXPECT_FALSE(countingDown()) << c.what;
        EXPECT_FALSE(delegate_->hardRestartCheckingEnabled()) << c.what;
        EXPECT_EQ(domainBytes(), c.bytes) << c.what;
    }
}

TEST_F(ScheduleTest, WrongTypedEntriesAreAbsent) {
    QVariantMap noDate = configuration("n", "No date", true, QDateTime());
    noDate.remove(KVXNextExecutionScheduleConfigurationKey);
    QVariantMap stringDate = configuration("s", "String date", true, QDateTime());
    stringDate.insert(KVXNextExecutionScheduleConfigurationKey, "2001-01-01");
    QVariantMap numberEnabled = configuration("e", "Number", true, kNow.addSecs(-1), 0);
    numberEnabled.insert(KVXEnabledScheduleConfigurationKey, 1);
    numberEnabled.insert(KVXIntervalScheduleConfigurationKey, "seven");
    numberEnabled.insert(KVXQueueNameScheduleConfigurationKey, QVariantList{"not a name"});
    writeDomain(domainWithSchedule({noDate, stringDate, numberEnabled}),
                /*binary=*/true);
    // Enabled ones without a date are never due, but they keep the agent running.
    EXPECT_EQ(delegate_->enabledScheduleConfigurations().size(), 3);
    ASSERT_EQ(delegate_->unrunScheduleConfigurations().size(), 1);
    delegate_->checkSchedule(nullptr);
    EXPECT_TRUE(countingDown());
    EXPECT_EQ(countdownText(),
              "The queue \"(null)\" will begin scheduled execution in 30 seconds...");
    // An interval that is no number counts as code 0.
    alerts_.answer([&](app::Alert& alert) {
        EXPECT_EQ(qobject_cast<QDateTimeEdit*>(alert.accessoryView())->dateTime(), kNow.addDays(1));
        return app::Alert::kAlternateReturn;
    });
    delegate_->countdownAlert()->secondButton()->click();
    EXPECT_EQ(alerts_.shown().size(), 1u);
    delegate_->countdownAlert()->firstButton()->click();
    EXPECT_EQ(launches(1).size(), 1);
    EXPECT_EQ(terminations_, 0);
}

TEST_F(ScheduleTest, ADomainThatTurnsUnreadableIsNeverWrittenBack) {
    writeDomain(domainWithSchedule({configuration("c", "Q", true, kNow.addSecs(-5))}));
    const std::string garbage = "<plist><dict><key>half";
    for (int button : {2, 3}) {
        delegate_ = makeDelegate(connection_);
        delegate_->checkSchedule(nullptr);
        ASSERT_TRUE(countingDown());
        // While the dialog is up, the file changes into something unreadable.
        alerts_.answer([&](app::Alert&) {
            writeDomainBytes(garbage);
            return app::Alert::kDefaultReturn;
        });
        CountdownAlert* c = delegate_->countdownAlert();
        (button == 2 ? c->secondButton() : c->thirdButton())->click();
        EXPECT_EQ(domainBytes(), garbage) << button;
        EXPECT_FALSE(root_.exists(launchAgentMachinePath())) << button;
        writeDomain(domainWithSchedule({configuration("c", "Q", true, kNow.addSecs(-5))}));
    }
}

TEST_F(ScheduleTest, ABinaryDomainIsRewrittenWithNothingLost) {
    plist::Dictionary everything;
    everything["Data"] = plist::Value(plist::Data{0, 255, 7});
    everything["Big"] = plist::Value::unsignedInteger(18446744073709551615ull);
    everything["Real"] = plist::Value::real(2.5);
    everything["Caf\xC3\xA9"] = plist::Value(plist::Array{plist::Value(plist::Date{1.5e8})});
    QVariantMap domain = app::mapFromPlist(everything);
    domain = domainWithSchedule({configuration("c", "Q", true, kNow.addSecs(-5))}, domain);
    writeDomain(domain, /*binary=*/true);
    delegate_->checkSchedule(nullptr);
    const QDateTime picked = kNow.addDays(5);
    alerts_.answer([&](app::Alert& alert) {
        qobject_cast<QDateTimeEdit*>(alert.accessoryView())->setDateTime(picked);
        return app::Alert::kDefaultReturn;
    });
    delegate_->countdownAlert()->secondButton()->click();
    const std::string written = *domainBytes();
    EXPECT_EQ(written.rfind("<?xml", 0), 0u);
    QVariantMap expected =
        domainWithSchedule({configuration("c", "Q", true, picked)}, app::mapFromPlist(everything));
    EXPECT_EQ(*plist::parse(written), *app::plistFromVariant(expected));
}

}  // namespace
