// The checks at the start of a session: which session is new, what the
// restart records of `last` say, failing disks, and which prompt wins. The
// tools' scripts inside each test's sandbox print what the case needs.
#include <map>

#include "RebootTime.h"
#include "agent_test_support.h"

namespace {

using agent_test::kNow;

// A record of `last` in the Mac's columns: the name padded to 8, two blanks,
// the line padded to 8, a blank, the host padded to 16, a blank, the day and
// time ("Fri Dec  7 09:12"), then the rest.
std::string record(const std::string& name, const std::string& line, const std::string& when,
                   const std::string& rest, const std::string& host = {}) {
    auto pad = [](std::string s, size_t n) {
        return s.append(n > s.size() ? n - s.size() : 0, ' ');
    };
    return pad(name, 8) + "  " + pad(line, 8) + " " + pad(host, 16) + " " + when + rest;
}
std::string reboot(const std::string& when) {
    return record("reboot", "~", when, " ");
}
std::string shutdownRecord(const std::string& when) {
    return record("shutdown", "~", when, " ");
}
std::string session(const std::string& when, const std::string& end) {
    return record("admin", "console", when, " " + end);
}
const std::string kEnd[] = {"", "wtmp begins Mon Dec  3 10:02 "};

// The local time `last` showed on 7 December before kNow's January.
QDateTime dec7(int hour, int minute) {
    return QDateTime(QDate(2025, 12, 7), QTime(hour, minute), QTimeZone::systemTimeZone());
}

QVariantMap disk(const QString& identifier, const QString& name, const QVariant& smart) {
    QVariantMap info{{"DeviceIdentifier", identifier},
                     {"DeviceNode", "/dev/" + identifier},
                     {"MediaName", name},
                     {"WholeDisk", true}};
    if (smart.isValid()) info.insert("SMARTStatus", smart);
    return info;
}

QString failingText(const QString& name, const QString& identifier) {
    return "The S.M.A.R.T. status of the device \"" + name + "\" (" + identifier +
           ") indicates that it may be failing! It is recommended that you backup and replace "
           "the device as soon as possible!";
}

class StartupChecksTest : public agent_test::AgentTest {
  protected:
    void SetUp() override {
        AgentTest::SetUp();
        setLast({reboot("Sun Dec  7 09:12"), shutdownRecord("Sat Dec  6 18:40"), kEnd[0], kEnd[1]});
        setDisks({}, {});
    }

    void setLast(const std::vector<std::string>& lines, int status = 0) {
        std::string script = "#!/bin/sh\ncat <<'EOF'\n";
        for (const std::string& line : lines) script += line + "\n";
        script += "EOF\nexit " + std::to_string(status) + "\n";
        root_.writeFile("/usr/libexec/varno-sandbox/last", script, 0755);
    }

    // "list" prints the whole disks (or `listOutput` when given); "info" the
    // disk's dictionary, or the tool's complaint for a disk it does not know.
    void setDisks(const QStringList& wholeDisks, const std::map<QString, QVariantMap>& infos,
                  const std::string& listOutput = {}, int listStatus = 0) {
        const std::string folder = "/private/var/tmp/disks";
        root_.writeFile(folder + "/list.plist",
                        listOutput.empty() ? xml({{"WholeDisks", wholeDisks}}) : listOutput);
        for (const auto& [identifier, info] : infos)
            root_.writeFile(folder + "/" + identifier.toStdString() + ".plist", xml(info));
        root_.writeFile("/usr/libexec/varno-sandbox/diskutil",
                        "#!/bin/sh\n"
                        "d=\"$VARNO_SANDBOX_ROOT" +
                            folder +
                            "\"\n"
                            "case \"$1\" in\n"
                            "list) cat \"$d/list.plist\"; exit " +
                            std::to_string(listStatus) +
                            " ;;\n"
                            "info) if [ -f \"$d/$3.plist\" ]; then cat \"$d/$3.plist\"; else\n"
                            "      echo \"Could not find disk: $3\"; exit 1; fi ;;\n"
                            "esac\n",
                        0755);
    }

    static std::string xml(const QVariantMap& dictionary) {
        return plist::writeXML(*app::plistFromVariant(dictionary));
    }

    void writeSettings(bool smart, bool hardRestart, QVariantMap extra = {}) {
        extra.insert(
            KVXAutomaticExecutionTask,
            QVariantMap{
                {KVXEnableMonitorSMARTStatusAutomaticExecutionConfigurationKey, smart},
                {KVXEnableHardRestartQueueAutomaticExecutionConfigurationKey, hardRestart},
                {KVXQueueNameHardRestartAutomaticExecutionConfigurationKey, "After a Crash"}});
        writeDomain(extra);
    }

    std::vector<std::string> toolsRun() {
        std::vector<std::string> tools;
        for (const auto& entry : sandbox::readJournal(root_)) {
            std::string run;
            for (const std::string& argument : entry.argv)
                run += (run.empty() ? "" : " ") + argument;
            tools.push_back(run);
        }
        return tools;
    }

    int debugLines(const QString& method, const QString& message) {
        return log_.countEndingWith(" -[VarnoAgentDelegate " + method + "]: " + message);
    }
};

TEST(RebootTime, TheMostRecentSuchMomentNotLaterThanNowInTheZone) {
    const QTimeZone utc = QTimeZone::utc();
    const QTimeZone berlin("Europe/Berlin");
    ASSERT_TRUE(berlin.isValid());
    const struct {
        const char* text;
        QTimeZone zone;
        QDateTime now;
        QDateTime expected;  // invalid: none
    } cases[] = {
        {"Dec  7 09:12", berlin, kNow, QDateTime(QDate(2025, 12, 7), QTime(9, 12), berlin)},
        {"Jan 15 12:00", utc, kNow, kNow},
        {"Jan 15 12:01", utc, kNow, QDateTime(QDate(2025, 1, 15), QTime(12, 1), utc)},
        // 13:00 in Berlin is noon in UTC: now, so this year.
        {"Jan 15 13:00", berlin, kNow, kNow},
        {"Jan 15 13:01", berlin, kNow, QDateTime(QDate(2025, 1, 15), QTime(13, 1), berlin)},
        {"Feb 29 08:00", utc, kNow, QDateTime(QDate(2024, 2, 29), QTime(8, 0), utc)},
        {"dec 7 9:12", utc, kNow, QDateTime(QDate(2025, 12, 7), QTime(9, 12), utc)},
        // The clocks of Berlin skipped from 02:00 to 03:00 that morning.
        {"Mar 29 02:30", berlin, QDateTime(QDate(2026, 4, 1), QTime(0, 0), utc), QDateTime()},
        {"", utc, kNow, QDateTime()},
        {"Dec  7 09:1", utc, kNow, QDateTime()},
        {"Dec 32 09:12", utc, kNow, QDateTime()},
        {"Apr 31 09:12", utc, kNow, QDateTime()},
        {"Foo  7 09:12", utc, kNow, QDateTime()},
        {"Dec  7 24:00", utc, kNow, QDateTime()},
        {"Dec  7 09:60", utc, kNow, QDateTime()},
        {"Dec  7 09:12x", utc, kNow, QDateTime()},
        {"Fri Dec  7 09", utc, kNow, QDateTime()},
    };
    for (const auto& c : cases) {
        const std::optional<QDateTime> date = dateFromRebootTime(c.text, c.now, c.zone);
        if (!c.expected.isValid()) {
            EXPECT_FALSE(date) << c.text << " gave " << date->toString().toStdString();
            continue;
        }
        ASSERT_TRUE(date) << c.text;
        EXPECT_EQ(date->toMSecsSinceEpoch(), c.expected.toMSecsSinceEpoch()) << c.text;
    }
}

TEST_F(StartupChecksTest, TheSessionStartsAtTheNewestRebootRecord) {
    const struct {
        const char* what;
        std::vector<std::string> lines;
        int status;
        QDateTime expected;  // invalid: none
    } cases[] = {
        {"newest of two",
         {session("Sun Dec  7 09:13", "  still logged in"), reboot("Sun Dec  7 09:12"),
          shutdownRecord("Sat Dec  6 18:40"), reboot("Sat Dec  6 08:54"), kEnd[0], kEnd[1]},
         0,
         dec7(9, 12)},
        {"without the trailing blank", {reboot("Sun Dec  7 09:12").substr(0, 52)}, 0, dec7(9, 12)},
        {"cut short",
         {reboot("Sun Dec  7 09:12").substr(0, 51), reboot("Sat Dec  6 08:54")},
         0,
         QDateTime()},
        {"no reboot",
         {session("Sun Dec  7 09:13", "  still logged in"), kEnd[0], kEnd[1]},
         0,
         QDateTime()},
        {"last fails", {reboot("Sun Dec  7 09:12")}, 1, QDateTime()},
        {"no output", {}, 0, QDateTime()},
    };
    for (const auto& c : cases) {
        setLast(c.lines, c.status);
        const std::optional<QDateTime> start = delegate_->currentSessionStart();
        if (!c.expected.isValid()) {
            EXPECT_FALSE(start) << c.what;
            continue;
        }
        ASSERT_TRUE(start) << c.what;
        EXPECT_EQ(*start, c.expected) << c.what;
    }
    EXPECT_EQ(debugLines("last", "Error in 'last': 1"), 1);
}

TEST_F(StartupChecksTest, OnlyACrashOrAMissingShutdownBeforeTheNewestRebootIsAHardRestart) {
    const struct {
        const char* what;
        std::vector<std::string> lines;
        bool hard;
        const char* debugLine;  // the last one; none but "systemHardRestarted" when null
        int status = 0;
    } cases[] = {
        {"crash",
         {reboot("Sun Dec  7 09:12"), session("Sat Dec  6 08:55", "- crash  (10:02)"),
          reboot("Sat Dec  6 08:54")},
         true,
         nullptr},
        {"shutdown",
         {session("Sun Dec  7 09:13", "  still logged in"), reboot("Sun Dec  7 09:12"),
          shutdownRecord("Sat Dec  6 18:40"), session("Sat Dec  6 08:55", "- crash  (10:02)")},
         false,
         nullptr},
        {"logged out, never shut down",
         {reboot("Sun Dec  7 09:12"), session("Sat Dec  6 08:55", "- 18:40  (09:45)")},
         true,
         "HARD-RESTARTED"},
        {"two reboots in a row",
         {reboot("Sun Dec  7 09:12"), reboot("Sat Dec  6 08:54")},
         true,
         "HARD-RESTARTED"},
        {"first records", {reboot("Sun Dec  7 09:12"), kEnd[0], kEnd[1]}, false, "no"},
        {"first records, no blank", {reboot("Sun Dec  7 09:12"), kEnd[1]}, false, "no"},
        {"nothing after", {reboot("Sun Dec  7 09:12")}, false, "no"},
        {"no reboot", {session("Sun Dec  7 09:13", "- crash  (00:01)")}, false, "no"},
        {"last fails",
         {reboot("Sun Dec  7 09:12"), session("Sat Dec  6 08:55", "- crash")},
         false,
         "no",
         1},
    };
    for (const auto& c : cases) {
        setLast(c.lines, c.status);
        const int before = log_.lines().size();
        EXPECT_EQ(delegate_->systemHardRestarted(), c.hard) << c.what;
        const QStringList lines = log_.lines().mid(before);
        ASSERT_FALSE(lines.isEmpty()) << c.what;
        EXPECT_TRUE(
            lines.first().endsWith("-[VarnoAgentDelegate systemHardRestarted]: "
                                   "systemHardRestarted"))
            << c.what;
        EXPECT_EQ(
            lines.last().endsWith(QStringLiteral("-[VarnoAgentDelegate systemHardRestarted]: %1")
                                      .arg(c.debugLine ? c.debugLine : "systemHardRestarted")),
            true)
            << c.what << ": " << lines.last().toStdString();
    }
}

// Anyone who can log in picks the host name `last` shows: only a record's
// kind and a session's end count.
TEST_F(StartupChecksTest, HostNamesNeverMakeARestartOrACrash) {
    const std::string evil = "evil";
    setLast({record(evil, "ttys000", "Sun Dec  7 10:00", "   still logged in", "reboot.evil.net"),
             record(evil, "ttys001", "Sun Dec  7 09:50", " - 09:55  (00:05)", "crash.evil.net"),
             reboot("Sun Dec  7 09:12"), shutdownRecord("Sat Dec  6 18:40")});
    const std::optional<QDateTime> start = delegate_->currentSessionStart();
    ASSERT_TRUE(start);
    EXPECT_EQ(*start, dec7(9, 12));
    EXPECT_FALSE(delegate_->systemHardRestarted());
    // A crashed session from a host named after a shutdown is still a crash.
    setLast({reboot("Sun Dec  7 09:12"),
             record(evil, "ttys000", "Sat Dec  6 08:55", " - crash  (10:02)", "shutdown.evil")});
    EXPECT_TRUE(delegate_->systemHardRestarted());
}

TEST_F(StartupChecksTest, AnEqualStoredSessionIsOldAndNothingIsChecked) {
    setLast({reboot("Sun Dec  7 09:12"), session("Sat Dec  6 08:55", "- crash  (10:02)")});
    setDisks({"disk0"}, {{"disk0", disk("disk0", "Disk", "Failing")}});
    writeSettings(true, true, {{KVXLastSeenHostSessionDefaultsKey, dec7(9, 12).toUTC()}});
    const std::string before = *domainBytes();
    delegate_->applicationDidFinishLaunching();
    EXPECT_EQ(debugLines("checkNewSession", "OLD SESSION"), 1);
    EXPECT_EQ(debugLines("startupExecutionCheck", "startupExecutionCheck:"), 0);
    EXPECT_TRUE(alerts_.shown().empty());
    EXPECT_EQ(toolsRun(), std::vector<std::string>{"/usr/bin/last"});
    EXPECT_FALSE(delegate_->waitingAction());
    EXPECT_EQ(*domainBytes(), before);
    // No schedule is enabled: the schedule check quits the agent.
    EXPECT_EQ(terminations_, 1);
}

TEST_F(StartupChecksTest, ALaterSessionIsStoredBeforeAnyCheckRuns) {
    setDisks({"disk0"}, {{"disk0", disk("disk0", "Disk", "Failing")}});
    writeSettings(true, false,
                  {{KVXLastSeenHostSessionDefaultsKey,
                    QDateTime(QDate(2025, 12, 6), QTime(8, 54), QTimeZone::systemTimeZone())},
                   {"Other", "kept"}});
    QVariant storedDuringAlert;
    alerts_.answer([&](app::Alert&) {
        storedDuringAlert = readDomain().value(KVXLastSeenHostSessionDefaultsKey);
        return app::Alert::kDefaultReturn;
    });
    EXPECT_TRUE(delegate_->checkNewSession());
    EXPECT_EQ(debugLines("checkNewSession", "NEW SESSION"), 1);
    EXPECT_FALSE(delegate_->startupExecutionCheck());
    ASSERT_EQ(alerts_.shown().size(), 1u);
    EXPECT_EQ(storedDuringAlert, dec7(9, 12).toUTC());
    EXPECT_EQ(readDomain().value("Other"), "kept");
    EXPECT_TRUE(readDomain().contains(KVXAutomaticExecutionTask));
}

TEST_F(StartupChecksTest, WhatIsNewWhenAStartIsMissing) {
    const QVariant stored = dec7(9, 12).toUTC();
    const struct {
        const char* what;
        bool storedValue;
        bool lastWorks;
        bool isNew;
        bool storedAfter;
    } cases[] = {
        {"nothing stored, start known", false, true, true, true},
        {"nothing stored, no start", false, false, true, false},
        {"stored, no start", true, false, false, true},
    };
    for (const auto& c : cases) {
        setLast({reboot("Sun Dec  7 09:12")}, c.lastWorks ? 0 : 1);
        writeDomain(c.storedValue ? QVariantMap{{KVXLastSeenHostSessionDefaultsKey, stored}}
                                  : QVariantMap{{"Other", 1}});
        EXPECT_EQ(delegate_->checkNewSession(), c.isNew) << c.what;
        EXPECT_EQ(readDomain().value(KVXLastSeenHostSessionDefaultsKey).isValid(), c.storedAfter)
            << c.what;
        if (c.storedAfter) {
            EXPECT_EQ(readDomain().value(KVXLastSeenHostSessionDefaultsKey), stored) << c.what;
        }
    }
}

TEST_F(StartupChecksTest, PreferencesThatCannotBeReadAreNeverWritten) {
    const std::string garbage = "<plist><dict><key>LastSeen";
    writeDomainBytes(garbage);
    EXPECT_TRUE(delegate_->checkNewSession());
    EXPECT_EQ(domainBytes(), garbage);
    EXPECT_FALSE(delegate_->startupExecutionCheck());
    EXPECT_EQ(toolsRun(), std::vector<std::string>{"/usr/bin/last"});
}

TEST_F(StartupChecksTest, AReportWinsOverACrashAndSkipsTheDiskCheck) {
    setLast({reboot("Sun Dec  7 09:12"), session("Sat Dec  6 08:55", "- crash  (10:02)")});
    setDisks({"disk0"}, {{"disk0", disk("disk0", "Disk", "Failing")}});
    const QVariantMap report{{"QueueName", "Nightly"}, {"Finished", 3}};
    writeSettings(true, true, {{KVXAutorestartedQueueReportDefaultsKey, report}});
    delegate_->applicationDidFinishLaunching();
    ASSERT_TRUE(delegate_->waitingAction());
    EXPECT_EQ(*delegate_->waitingAction(),
              (QVariantMap{{KVXActionWaitingAgentActionKey, 0},
                           {KVXContextInfoWaitingAgentActionKey, report}}));
    EXPECT_EQ(debugLines("startupExecutionCheck", "(autorestartedReport)"), 1);
    EXPECT_TRUE(alerts_.shown().empty());
    EXPECT_EQ(toolsRun(), std::vector<std::string>{"/usr/bin/last"});
    EXPECT_EQ(launches(1).size(), 1);
    // A prompt leaves the session to the main application: no schedule check.
    EXPECT_EQ(delegate_->scheduleCheckTimer(), nullptr);
    EXPECT_EQ(terminations_, 0);
}

TEST_F(StartupChecksTest, AHardRestartHandsOverItsQueueOnlyWhenEnabled) {
    setLast({reboot("Sun Dec  7 09:12"), session("Sat Dec  6 08:55", "- crash  (10:02)")});
    writeSettings(false, true);
    delegate_->applicationDidFinishLaunching();
    ASSERT_TRUE(delegate_->waitingAction());
    EXPECT_EQ(*delegate_->waitingAction(),
              (QVariantMap{{KVXActionWaitingAgentActionKey, 1},
                           {KVXContextInfoWaitingAgentActionKey, "After a Crash"}}));
    EXPECT_EQ(debugLines("startupExecutionCheck", "(hard restart)"), 1);
    EXPECT_EQ(launches(1).size(), 1);
    EXPECT_EQ(terminations_, 0);
    // "last" ran for the session and for the restart; no disk was asked.
    EXPECT_EQ(toolsRun(), (std::vector<std::string>{"/usr/bin/last", "/usr/bin/last"}));

    // Off: the same crash is not acted on, and the schedule check follows.
    delegate_.reset();
    delegate_ = makeDelegate(connection_);
    writeSettings(false, false);
    delegate_->applicationDidFinishLaunching();
    EXPECT_FALSE(delegate_->waitingAction());
    EXPECT_EQ(log_.countEndingWith("]: No active schedules. Quitting..."), 1);
    EXPECT_EQ(terminations_, 1);
}

TEST_F(StartupChecksTest, OneWarningPerFailingDiskInTheOrderOfTheWholeDisks) {
    setDisks({"disk2", "disk0", "disk1", "disk3", "disk4", "disk5"},
             {{"disk0", disk("disk0", "Healthy Media", "Verified")},
              {"disk1", disk("disk1", "Old Media", "Not Supported")},
              {"disk2", disk("disk2", "WDC 50% Media", "Failing")},
              {"disk4", disk("disk4", "", QVariant())},
              {"disk5", QVariantMap{{"SMARTStatus", "verified"}}}});
    writeSettings(true, false);
    EXPECT_FALSE(delegate_->startupExecutionCheck());
    const QStringList expected = {failingText("WDC 50% Media", "disk2"),
                                  // Could not be asked: failing, named by its identifier.
                                  failingText("disk3", "disk3"),
                                  // Tells no status and no name.
                                  failingText("disk4", "disk4"),
                                  // Any other spelling is no healthy status.
                                  failingText("disk5", "disk5")};
    ASSERT_EQ(alerts_.shown().size(), static_cast<size_t>(expected.size()));
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const auto& shown = alerts_.shown()[static_cast<size_t>(i)];
        EXPECT_EQ(shown.messageText, "Hard drive failing!");
        EXPECT_EQ(shown.informativeText, expected[i]);
        EXPECT_EQ(shown.windowTitle, "Varno");
        EXPECT_EQ(shown.buttons, QStringList{"OK"});
    }
    EXPECT_EQ(debugLines("failingDevices",
                         "failingDevices: Error in 'diskutil info' for node "
                         "disk3: 1"),
              1);
    EXPECT_EQ(debugLines("failingDevices", "SMARTStatus: Failing"), 1);
    EXPECT_EQ(debugLines("failingDevices", "SMARTStatus: Not Supported"), 1);
    EXPECT_EQ(debugLines("failingDevices", "SMARTStatus: (null)"), 2);
    std::vector<std::string> expectedRuns = {"/usr/sbin/diskutil list -plist"};
    for (const char* disk : {"disk2", "disk0", "disk1", "disk3", "disk4", "disk5"})
        expectedRuns.push_back(std::string("/usr/sbin/diskutil info -plist ") + disk);
    EXPECT_EQ(toolsRun(), expectedRuns);
}

TEST_F(StartupChecksTest, ADiskListThatFailsOrSaysNothingWarnsOfNothing) {
    const struct {
        const char* what;
        std::string output;
        int status;
    } cases[] = {
        {"fails", "Could not find disk: list\n", 1},
        {"not a property list", "<?xml version=\"1.0\"?>\nnonsense\n", 0},
        {"no whole disks", xml({{"AllDisks", QVariantList{"disk0"}}}), 0},
        {"whole disks of the wrong type", xml({{"WholeDisks", "disk0"}}), 0},
    };
    for (const auto& c : cases) {
        setDisks({}, {{"disk0", disk("disk0", "Disk", "Failing")}}, c.output, c.status);
        EXPECT_TRUE(delegate_->failingDevices().isEmpty()) << c.what;
    }
    EXPECT_EQ(debugLines("failingDevices", "failingDevices: Error in 'diskutil list': 1"), 1);
    EXPECT_TRUE(alerts_.shown().empty());
}

TEST_F(StartupChecksTest, DiskUtilityTextGivesItsDictionaryOrAnEmptyOne) {
    const QVariantMap info = disk("disk0", "Media", "Verified");
    EXPECT_EQ(delegate_->diskUtilInfoByParsingInfoString(QString::fromStdString(xml(info))), info);
    for (const char* text : {"", "Could not find disk: disk9\n",
                             "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><array/></plist>\n",
                             "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict><key>A"}) {
        EXPECT_TRUE(delegate_->diskUtilInfoByParsingInfoString(text).isEmpty()) << text;
    }
    EXPECT_EQ(log_.countEndingWith("-[VarnoAgentDelegate diskUtilInfoByParsingInfoString:]: "
                                   "diskUtilInfoByParsingInfoString: the property list holds no "
                                   "dictionary"),
              1);
}

}  // namespace
