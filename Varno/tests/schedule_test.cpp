// Schedules: the next date after a run, the store's changes to the domain,
// and "Varno schedule" with the agent's start at login (the launch agent
// file, launchctl in the sandbox's tool journal, the autostart entry).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QTimeZone>
#include <string>
#include <vector>

#include "app/plistbridge.h"
#include "host/testing.h"
#include "launchagent.h"
#include "plist/plist.h"
#include "sandbox/sandbox.h"
#include "schedulestore.h"

namespace {

using varno::AdvanceResult;
using varno::ScheduleStore;

const QDateTime kNow = QDateTime(QDate(2026, 1, 15), QTime(12, 0), QTimeZone::utc());
const char kDomainPath[] = "/var/root/Library/Preferences/com.kvxlabs.Varno2.plist";
const char kLaunchAgentPath[] = "/var/root/Library/LaunchAgents/com.kvxlabs.Varno2.agent.plist";
const char kAutostartPath[] = "/var/root/.config/autostart/com.kvxlabs.Varno2.agent.desktop";

TEST(AdvancedExecution, FirstDateAfterNowInWholeIntervals) {
    constexpr qint64 kDay = 86400;
    struct Case {
        qint64 behindSeconds;  // how far before now the date was
        double interval;
        std::optional<qint64> expectedAfterNow;  // seconds after now
    };
    const std::vector<Case> cases = {
        {0, kDay, kDay},                    // exactly now is due: a whole day on
        {1, kDay, kDay - 1},                // just past
        {3600, 7 * kDay, 7 * kDay - 3600},  // one step
        {10 * kDay, kDay, kDay},            // missed days are skipped, not run one by one
        {kDay, kDay, kDay},                 // a step that lands on now is not enough
        {-60, kDay, 60},                    // in the future already: unchanged
        {3600, 0, std::nullopt},            // no repetition never reaches the future
    };
    for (const Case& c : cases) {
        const QDateTime next = kNow.addSecs(-c.behindSeconds);
        const auto result = varno::advancedExecution(next, c.interval, kNow);
        ASSERT_EQ(result.has_value(), c.expectedAfterNow.has_value()) << c.behindSeconds;
        if (result) {
            EXPECT_EQ(kNow.secsTo(*result), *c.expectedAfterNow) << c.behindSeconds;
        }
    }
    EXPECT_EQ(varno::timeIntervalForScheduleInterval(0), kDay);
    EXPECT_EQ(varno::timeIntervalForScheduleInterval(5), 61 * kDay);
    EXPECT_EQ(varno::timeIntervalForScheduleInterval(6), 0);
}

class ScheduleStoreTest : public ::testing::Test {
  protected:
    // The store keeps the domain of the user running it, at home in "/var/root".
    void SetUp() override {
        root_.writeFile("/etc/passwd",
                        "root:*:" + std::to_string(getuid()) + ":0::/var/root:/bin/sh\n");
    }
    ScheduleStore store() const { return ScheduleStore(); }
    void write(const QVariantMap& domain) {
        root_.writeFile(kDomainPath, plist::writeXML(*app::plistFromVariant(domain)));
    }
    QVariantList schedule() const {
        return app::variantFromPlist(*plist::parse(*root_.readFile(kDomainPath)))
            .toMap()
            .value("Configurations")
            .toMap()
            .value("Schedule")
            .toList();
    }
    static QVariantMap configuration(const QString& name, const QVariant& next,
                                     const QVariant& interval) {
        return {{"ConfigurationName", name},
                {"QueueName", "Q"},
                {"Enabled", true},
                {"NextExecution", next},
                {"Interval", interval}};
    }

    host::testing::SandboxRoot root_;
};

TEST_F(ScheduleStoreTest, AdvancingTwiceGivesTheSameDate) {
    const QVariantList schedule{configuration("a", kNow.addSecs(-5), 1),
                                configuration("b", kNow.addSecs(-5), 3)};
    write(QVariantMap{{"Configurations", QVariantMap{{"Schedule", schedule}}}, {"Other", "kept"}});
    varno::StoreError error;
    EXPECT_EQ(store().advanceAfterRun("b", kNow, &error), AdvanceResult::Advanced)
        << error.message.toStdString();
    const std::string once = *root_.readFile(kDomainPath);
    EXPECT_EQ(store().advanceAfterRun("b", kNow, &error), AdvanceResult::AlreadyFuture);
    EXPECT_EQ(*root_.readFile(kDomainPath), once);
    EXPECT_EQ(this->schedule()[1].toMap().value("NextExecution").toDateTime(),
              kNow.addSecs(-5).addDays(14));
    EXPECT_EQ(this->schedule()[0].toMap().value("NextExecution").toDateTime(), kNow.addSecs(-5));
    EXPECT_EQ(store().advanceAfterRun("nobody", kNow, &error), AdvanceResult::NotFound);
    EXPECT_EQ(*root_.readFile(kDomainPath), once);
}

TEST_F(ScheduleStoreTest, WhatCannotRepeatIsDisabled) {
    // An unknown code, a code of the wrong type read as 0 (a day), no date.
    const QVariantList schedule{configuration("unknown", kNow, 7),
                                configuration("text", kNow.addSecs(-1), "weekly"),
                                configuration("nodate", "tomorrow", 1)};
    write(QVariantMap{{"Configurations", QVariantMap{{"Schedule", schedule}}}});
    varno::StoreError error;
    EXPECT_EQ(store().advanceAfterRun("unknown", kNow, &error), AdvanceResult::Disabled);
    EXPECT_EQ(store().advanceAfterRun("text", kNow, &error), AdvanceResult::Advanced);
    EXPECT_EQ(store().advanceAfterRun("nodate", kNow, &error), AdvanceResult::Disabled);
    const QVariantList s = this->schedule();
    EXPECT_EQ(s[0].toMap().value("Enabled"), QVariant(false));
    EXPECT_EQ(s[0].toMap().value("NextExecution").toDateTime(), kNow);
    EXPECT_EQ(s[1].toMap().value("NextExecution").toDateTime(), kNow.addSecs(-1).addDays(1));
    EXPECT_EQ(s[2].toMap().value("Enabled"), QVariant(false));
}

TEST_F(ScheduleStoreTest, EntriesOfTheWrongTypeAreNeverReplaced) {
    for (const QVariantMap& domain :
         {QVariantMap{{"Configurations", "not a dictionary"}},
          QVariantMap{{"Configurations", QVariantMap{{"Schedule", QVariantMap{}}}}}}) {
        write(domain);
        const std::string before = *root_.readFile(kDomainPath);
        varno::StoreError error;
        EXPECT_FALSE(store().add(configuration("a", kNow, 1), &error));
        EXPECT_FALSE(store().advanceAfterRun("a", kNow, &error));
        EXPECT_EQ(error.kind, varno::StoreError::Kind::Unreadable);
        EXPECT_NE(error.message.indexOf("Configurations"), -1) << error.message.toStdString();
        EXPECT_EQ(*root_.readFile(kDomainPath), before);
    }
}

TEST(LaunchAgentEntry, ExecQuotesThePathForTheDesktop) {
    const varno::LaunchAgent plain("/opt/Varno.app/Contents/Resources/VarnoAgent.app");
    EXPECT_NE(plain.desktopEntry().indexOf(
                  "\nExec=\"/opt/Varno.app/Contents/Resources/VarnoAgent.app/Contents/MacOS/"
                  "VarnoAgent\"\n"),
              -1)
        << plain.desktopEntry().toStdString();
    const varno::LaunchAgent odd("/opt/My $HOME \"100%\"\\/VarnoAgent.app");
    EXPECT_NE(odd.desktopEntry().indexOf(
                  "\nExec=\"/opt/My \\\\$HOME \\\\\"100%%\\\\\"\\\\\\\\/VarnoAgent.app/"),
              -1)
        << odd.desktopEntry().toStdString();
    EXPECT_EQ(varno::LaunchAgent("/opt/a\nb/VarnoAgent.app").desktopEntry(), QString());
}

// "Varno schedule" as a program, on a laid-out root with a launchctl stand-in.
class ScheduleCommand : public ::testing::Test {
  protected:
    void SetUp() override { sandbox::build(root_); }

    host::testing::RunResult varno(const std::vector<std::string>& args) {
        host::testing::RunOptions options;
        options.argv = {std::getenv("VARNO_PROGRAM")};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        options.timeoutSeconds = 60;
        host::testing::RunResult r = host::testing::run(options);
        EXPECT_FALSE(r.timedOut);
        return r;
    }
    QVariantMap plistAt(const char* path) const {
        auto bytes = root_.readFile(path);
        if (!bytes) return {};
        auto value = plist::parse(*bytes);
        return value ? app::variantFromPlist(*value).toMap() : QVariantMap();
    }
    std::vector<std::string> launchctlCalls() const {
        std::vector<std::string> calls;
        for (const sandbox::JournalEntry& e : sandbox::readJournal(root_))
            if (!e.argv.empty() && e.argv[0] == "/bin/launchctl" && e.argv.size() == 3)
                calls.push_back(e.argv[1] + " " + e.argv[2]);
        return calls;
    }

    host::testing::SandboxRoot root_;
};

TEST_F(ScheduleCommand, AddListDisableEnableRemove) {
    ASSERT_EQ(varno({"queue", "add", "Tidy", "clean-caches", "UserFonts=true"}).exitStatus, 0);
    host::testing::RunResult r = varno({"schedule", "add", "Nightly", "Tidy", "--at",
                                        "2030-01-02T03:04:05Z", "--every", "2weeks"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    r = varno({"schedule", "add", "Later", "Elsewhere", "--at", "+1d", "--disabled"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("warning: there is no queue named \"Elsewhere\" yet"), std::string::npos);

    const QVariantList schedule =
        plistAt(kDomainPath).value("Configurations").toMap().value("Schedule").toList();
    ASSERT_EQ(schedule.size(), 2);
    EXPECT_EQ(schedule[0].toMap(),
              (QVariantMap{
                  {"ConfigurationName", "Nightly"},
                  {"QueueName", "Tidy"},
                  {"Enabled", true},
                  {"NextExecution", QDateTime(QDate(2030, 1, 2), QTime(3, 4, 5), QTimeZone::utc())},
                  {"Interval", 3}}));
    EXPECT_EQ(schedule[1].toMap().value("Enabled"), QVariant(false));
    // The queues stay where they were.
    EXPECT_TRUE(plistAt(kDomainPath).value("Queues").toMap().contains("Tidy"));

    EXPECT_EQ(varno({"schedule", "list"}).out,
              "Nightly  queue \"Tidy\", every 2weeks, next 2030-01-02 03:04:05 UTC, enabled\n"
              "Later  queue \"Elsewhere\", every week, next " +
                  QDateTime::fromSecsSinceEpoch(
                      schedule[1].toMap().value("NextExecution").toDateTime().toSecsSinceEpoch(),
                      QTimeZone::utc())
                      .toString("yyyy-MM-dd HH:mm:ss 'UTC'")
                      .toStdString() +
                  ", disabled\n");

    // An enabled schedule: the agent starts at login.
    const QVariantMap agent = plistAt(kLaunchAgentPath);
    EXPECT_EQ(agent.value("Disabled"), QVariant(false));
    EXPECT_EQ(agent.value("Label"), QVariant("com.kvxlabs.Varno2.agent"));
    EXPECT_TRUE(agent.value("Program").toString().endsWith(
        "/Varno.app/Contents/Resources/VarnoAgent.app/Contents/MacOS/VarnoAgent"));
    EXPECT_EQ(agent.value("RunAtLoad"), QVariant(true));
    EXPECT_EQ(agent.value("KeepAlive"), QVariant(false));
    EXPECT_EQ(agent.value("OnDemand"), QVariant(true));
    EXPECT_EQ(agent.value("LaunchOnlyOnce"), QVariant(true));
    EXPECT_EQ(agent.size(), 7);
    auto autostart = root_.readFile(kAutostartPath);
    ASSERT_TRUE(autostart);
    EXPECT_NE(autostart->find("/VarnoAgent.app/Contents/MacOS/VarnoAgent\"\n"), std::string::npos);
    EXPECT_EQ(launchctlCalls(),
              (std::vector<std::string>{std::string("load ") + kLaunchAgentPath,
                                        std::string("load ") + kLaunchAgentPath}));

    // The last enabled one goes: the launch agent is turned off and unloaded.
    ASSERT_EQ(varno({"schedule", "disable", "Nightly"}).exitStatus, 0);
    EXPECT_EQ(plistAt(kLaunchAgentPath).value("Disabled"), QVariant(true));
    EXPECT_EQ(launchctlCalls().back(), std::string("unload ") + kLaunchAgentPath);
    EXPECT_FALSE(root_.exists(kAutostartPath));

    ASSERT_EQ(varno({"schedule", "enable", "Later"}).exitStatus, 0);
    EXPECT_EQ(plistAt(kLaunchAgentPath).value("Disabled"), QVariant(false));
    EXPECT_TRUE(root_.exists(kAutostartPath));
    ASSERT_EQ(varno({"schedule", "remove", "Later"}).exitStatus, 0);
    EXPECT_FALSE(root_.exists(kAutostartPath));
    EXPECT_EQ(
        plistAt(kDomainPath).value("Configurations").toMap().value("Schedule").toList().size(), 1);
}

TEST_F(ScheduleCommand, AStartupCheckKeepsTheAgentStartingAtLogin) {
    QVariantMap domain{{"AutomaticExecution", QVariantMap{{"SMARTStatusMonitorEnabled", true}}}};
    root_.writeFile(kDomainPath, plist::writeXML(*app::plistFromVariant(domain)));
    ASSERT_EQ(varno({"schedule", "add", "N", "Q", "--at", "now"}).exitStatus, 0);
    ASSERT_EQ(varno({"schedule", "disable", "N"}).exitStatus, 0);
    EXPECT_EQ(plistAt(kLaunchAgentPath).value("Disabled"), QVariant(false));
    EXPECT_TRUE(root_.exists(kAutostartPath));
    EXPECT_EQ(plistAt(kDomainPath).value("AutomaticExecution"), domain.value("AutomaticExecution"));
}

// What stands in the entry's place is replaced, never followed or read: a
// link's target stays as it was, and a pipe cannot hold Varno up.
TEST_F(ScheduleCommand, TheAutostartEntryReplacesWhatStandsInItsPlace) {
    const std::string entry = root_.real(kAutostartPath);
    const std::string target = root_.writeFile("/var/root/notes.txt", "mine");
    root_.mkdirs("/var/root/.config/autostart");
    ASSERT_EQ(symlink(target.c_str(), entry.c_str()), 0);
    ASSERT_EQ(varno({"schedule", "add", "N", "Q", "--at", "now"}).exitStatus, 0);
    EXPECT_EQ(*root_.readFile("/var/root/notes.txt"), "mine");
    struct stat st {};
    ASSERT_EQ(lstat(entry.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    ASSERT_EQ(varno({"schedule", "disable", "N"}).exitStatus, 0);
    ASSERT_EQ(mkfifo(entry.c_str(), 0644), 0);
    ASSERT_EQ(varno({"schedule", "enable", "N"}).exitStatus, 0);
    ASSERT_EQ(lstat(entry.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_NE(root_.readFile(kAutostartPath)->find("Exec="), std::string::npos);
}

TEST_F(ScheduleCommand, ALaunchAgentThatCannotBeWrittenIsNamedAsTheMachineNamesIt) {
    root_.mkdirs(kLaunchAgentPath);  // a folder in the file's place
    const host::testing::RunResult r = varno({"schedule", "add", "N", "Q"});
    EXPECT_EQ(r.exitStatus, 74);
    EXPECT_NE(r.err.find(std::string("Varno: warning: cannot replace ") + kLaunchAgentPath +
                         ": Is a directory\n"),
              std::string::npos)
        << r.err;
}

TEST_F(ScheduleCommand, BadArgumentsAndNamesEndWith64) {
    ASSERT_EQ(varno({"schedule", "add", "N", "Q"}).exitStatus, 0);
    const std::vector<std::vector<std::string>> cases = {
        {"schedule"},
        {"schedule", "frob"},
        {"schedule", "add", "N", "Q"},  // the name is taken
        {"schedule", "add", "M"},
        {"schedule", "add", "M", "Q", "--every", "fortnightly"},
        {"schedule", "add", "M", "Q", "--at", "next tuesday"},
        {"schedule", "enable", "nobody"},
        {"schedule", "remove"},
        {"schedule", "list", "--at", "now"},
    };
    for (const auto& args : cases) {
        const host::testing::RunResult r = varno(args);
        EXPECT_EQ(r.exitStatus, 64) << args.back() << "\n" << r.err;
        EXPECT_NE(r.err.find("Varno: "), std::string::npos) << args.back();
    }
    EXPECT_EQ(
        plistAt(kDomainPath).value("Configurations").toMap().value("Schedule").toList().size(), 1);
}

}  // namespace
