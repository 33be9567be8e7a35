#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDialog>
#include <QDir>
#include <QWidget>
#include <cstdlib>

#include "KVXFoundation/KVXLSSharedFileList.h"
#include "SystemEvent.h"
#include "ToolResult.h"
#include "uninstaller_support.h"

namespace {

using namespace uninstaller_test;
using app::Alert;

const QString kConfirmInfo = QStringLiteral(
    "Are you sure you want to uninstall Varno? Doing so will remove all of Varno's components "
    "and settings. This action cannot be undone.");
const QString kRestartInfo = QStringLiteral(
    "Uninstallation is complete, but your swap volume has been reverted back to the startup "
    "volume. A restart is needed for this change to take effect.");

std::vector<std::vector<std::string>> killallRuns(const host::testing::SandboxRoot& root) {
    std::vector<std::vector<std::string>> runs;
    for (const sandbox::JournalEntry& e : sandbox::readJournal(root))
        if (!e.argv.empty() && e.argv[0] == "/usr/bin/killall") runs.push_back(e.argv);
    return runs;
}

// Draws the alert as it would be shown into the renders folder.
int renderAndAnswer(Alert& alert, const char* name, int answer) {
    const char* folder = std::getenv("VARNO_UNINSTALLER_RENDERS");
    if (folder != nullptr && QDir().mkpath(QString::fromLocal8Bit(folder))) {
        QDialog* window = alert.window();
        window->adjustSize();
        window->show();
        QApplication::processEvents();
        const QString path = QString::fromLocal8Bit(folder) + '/' + QString::fromLatin1(name);
        EXPECT_TRUE(window->grab().save(path)) << path.toStdString();
        window->hide();
    }
    return answer;
}

TEST(UninstallerTest, CancelInTheConfirmationTouchesNothing) {
    Fixture f;
    f.installSuite();
    f.toolPrinting("EXIT: 0\n");
    const sandbox::TreeSnapshot before = sandbox::snapshotTree(f.root, {});
    f.alerts.answer([](Alert& a) { return renderAndAnswer(a, "confirmation-alert.png", 0); });
    f.delegate->applicationDidFinishLaunching();

    ASSERT_EQ(f.alerts.shown().size(), 1u);
    const app::testing::ShownAlert& shown = f.alerts.shown()[0];
    EXPECT_EQ(shown.messageText, "Uninstall Varno");
    EXPECT_EQ(shown.informativeText, kConfirmInfo);
    EXPECT_EQ(shown.buttons, QStringList({"Uninstall", "Cancel"}));
    EXPECT_EQ(f.terminations, 1);
    EXPECT_TRUE(f.log.lines().isEmpty());
    // No child ran: no tool journal, no trace of the privileged tool.
    EXPECT_EQ(sandbox::snapshotTree(f.root, {}), before);
}

TEST(UninstallerTest, RemovesEverythingAndGoesOnWhenNeitherProcessRuns) {
    Fixture f;
    f.installSuite();
    f.killallExits(1);
    f.toolPrinting("EXIT: 0\n");
    f.delegate->applicationDidFinishLaunching();

    EXPECT_EQ(f.log.lines(),
              QStringList({"doUnprivileged", "Killing Varno...", "Task failed with status 1",
                           "Removing LaunchAgent...", "Killing VarnoAgent...",
                           "Task failed with status 1", "Removing preferences...",
                           "Removing Application Support...", "doPrivileged"}));
    EXPECT_EQ(killallRuns(f.root),
              (std::vector<std::vector<std::string>>{{"/usr/bin/killall", "Varno"},
                                                     {"/usr/bin/killall", "VarnoAgent"}}));
    for (const char* path : {kLaunchAgent, kPreferences, kSupportFolder, kBundle})
        EXPECT_FALSE(f.root.exists(path)) << path;
    EXPECT_TRUE(f.root.exists("/var/root/Library/Application Support"));
    EXPECT_TRUE(f.root.exists("/private/tmp/tool-ran"));
    ASSERT_EQ(f.alerts.shown().size(), 2u);
    EXPECT_EQ(f.alerts.shown()[1].messageText, "Uninstallation Complete");
    EXPECT_EQ(f.alerts.shown()[1].informativeText, "All done. Have a nice day!");
    EXPECT_EQ(f.alerts.shown()[1].buttons, QStringList({"OK"}));
    EXPECT_EQ(f.terminations, 1);
}

TEST(UninstallerTest, EachMissingItemIsLoggedAndTheSequenceGoesOn) {
    Fixture f;
    f.toolPrinting("EXIT: 0\n");
    f.delegate->doUnprivileged();
    const QStringList& lines = f.log.lines();
    ASSERT_EQ(lines.size(), 10);
    EXPECT_EQ(lines[2], "Removing LaunchAgent...");
    EXPECT_EQ(lines[3], QStringLiteral("cannot remove %1: No such file or directory (2)")
                            .arg(QString::fromLatin1(kLaunchAgent)));
    EXPECT_EQ(lines[4], "Killing VarnoAgent...");
    EXPECT_TRUE(lines[6].startsWith("cannot remove " + QString::fromLatin1(kPreferences)));
    EXPECT_TRUE(lines[8].startsWith("cannot remove " + QString::fromLatin1(kSupportFolder)));
    EXPECT_TRUE(lines[9].startsWith("cannot remove /Applications/Varno.app:"));
    EXPECT_EQ(killallRuns(f.root).size(), 2u);
}

struct OutcomeCase {
    const char* name;
    std::string output;
    QString message;  // of the last alert
    QString informative;
};

TEST(UninstallerTest, TheToolsResultChoosesTheFinalAlert) {
    const QString failed = QStringLiteral("Uninstallation Failed");
    const QString complete = QStringLiteral("Uninstallation Complete");
    auto failure = [](long n) {
        return QStringLiteral(
                   "Uninstallation failed with error %1. Check the Console for more "
                   "details.")
            .arg(n);
    };
    const OutcomeCase cases[] = {
        {"zero", "EXIT: 0", complete, "All done. Have a nice day!"},
        {"three", "EXIT: 3", failed, failure(3)},
        {"text around", "\tRemoving /sbin/x\nEXIT: 0\n", complete, "All done. Have a nice day!"},
        {"line feeds", "EXIT: 3\n\n", failed, failure(3)},
        {"long after", "EXIT: 0\n" + std::string(5000, 'x'), complete,
         "All done. Have a nice day!"},
        {"marker beyond the buffer", std::string(5000, 'x') + "EXIT: 0\n", failed,
         failure(uninstall::kNoResultStatus)},
        {"no marker", "done\n", failed, failure(uninstall::kNoResultStatus)},
        {"nothing", "", failed, failure(uninstall::kNoResultStatus)},
        {"no number", "EXIT: ok\n", failed, failure(uninstall::kNoResultStatus)},
    };
    for (const OutcomeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.toolPrinting(c.output);
        f.delegate->applicationDidFinishLaunching();
        ASSERT_EQ(f.alerts.shown().size(), 2u);
        EXPECT_EQ(f.alerts.shown()[1].messageText, c.message);
        EXPECT_EQ(f.alerts.shown()[1].informativeText, c.informative);
        EXPECT_EQ(f.alerts.shown()[1].buttons, QStringList({"OK"}));
        EXPECT_EQ(f.terminations, 1);
        const bool noResult = c.informative == failure(uninstall::kNoResultStatus);
        EXPECT_EQ(f.log.countEndingWith("uninstallTool ended without reporting its result."),
                  noResult ? 1 : 0);
    }
}

TEST(UninstallerTest, AToolThatCannotStartEndsInTheFailureAlert) {
    Fixture f;  // the bundle holds no uninstallTool
    f.delegate->applicationDidFinishLaunching();
    EXPECT_EQ(
        f.log.countEndingWith("AuthorizationExecuteWithPrivileges() failed with status -60031"), 1);
    ASSERT_EQ(f.alerts.shown().size(), 2u);
    EXPECT_EQ(f.alerts.shown()[1].informativeText,
              "Uninstallation failed with error -60031. Check the Console for more details.");
    EXPECT_EQ(f.terminations, 1);
}

TEST(UninstallerTest, ARefusedRightIsLoggedAndTheUserPartStillRuns) {
    Fixture f;
    f.installSuite();
    f.toolPrinting("EXIT: 0\n");
    // Rules anyone could have written are refused, and with them every right.
    f.root.writeFile("/private/etc/kvx-authorization.plist", "<plist/>", 0666);
    f.delegate->applicationDidFinishLaunching();
    EXPECT_EQ(f.log.countEndingWith("AuthorizationCopyRights() failed with status -60008"), 1);
    EXPECT_TRUE(f.log.lines().contains("doUnprivileged"));
    EXPECT_FALSE(f.root.exists(kBundle));
    EXPECT_FALSE(f.root.exists("/private/tmp/tool-ran"));
    ASSERT_EQ(f.alerts.shown().size(), 2u);
    EXPECT_EQ(f.alerts.shown()[1].messageText, "Uninstallation Failed");
}

TEST(UninstallerTest, RestartIsRecordedInTheSandboxAndQuits) {
    Fixture f;
    f.toolPrinting("\tRe-enabling com.apple.dynamic_pager.plist...\nEXIT: -1\n");
    f.alerts.answer(1);
    f.alerts.answer([](Alert& a) { return renderAndAnswer(a, "restart-alert.png", 1); });
    f.delegate->applicationDidFinishLaunching();
    ASSERT_EQ(f.alerts.shown().size(), 2u);
    EXPECT_EQ(f.alerts.shown()[1].messageText, "Restart Recommended");
    EXPECT_EQ(f.alerts.shown()[1].informativeText, kRestartInfo);
    EXPECT_EQ(f.alerts.shown()[1].buttons, QStringList({"Restart", "Cancel"}));
    EXPECT_EQ(f.root.readFile(uninstall::kSystemEventsLogPath), "aevt\trest\tpsn 0 1\n");
    EXPECT_EQ(f.terminations, 1);
}

TEST(UninstallerTest, CancelOrAFailedRestartKeepsTheUninstallerOpen) {
    {
        Fixture f;
        f.toolPrinting("EXIT: -1\n");
        f.alerts.answer(1);
        f.alerts.answer(0);
        f.delegate->applicationDidFinishLaunching();
        EXPECT_EQ(f.alerts.shown().size(), 2u);
        EXPECT_FALSE(f.root.exists(uninstall::kSystemEventsLogPath));
        EXPECT_EQ(f.terminations, 0);
    }
    {
        Fixture f;
        f.toolPrinting("EXIT: -1\n");
        // Where the event would be written down there is a folder.
        f.root.mkdirs(uninstall::kSystemEventsLogPath);
        f.delegate->applicationDidFinishLaunching();
        EXPECT_EQ(f.alerts.shown().size(), 2u);
        EXPECT_EQ(f.log.lines().last(), "Error -36 restarting.");
        EXPECT_EQ(f.terminations, 0);
    }
}

// The home folder's tree (root's, as the test runs as root).
sandbox::TreeSnapshot homeTree(const host::testing::SandboxRoot& root) {
    sandbox::TreeSnapshot home;
    for (const auto& [path, state] : sandbox::snapshotTree(root))
        if (path.starts_with("/private/var/root")) home.emplace(path, state);
    return home;
}

// Everything a user can do that leaves files in the home folder, then the
// uninstaller: the home folder is as it was before the suite was first used.
TEST(UninstallerTest, LeavesTheHomeFolderAsBeforeTheSuiteWasFirstUsed) {
    Fixture f;
    f.toolPrinting("EXIT: 0\n");
    // Root's home laid out as a user's is (the sandbox gives root less).
    for (const char* folder :
         {"/var/root/Library/Application Support", "/var/root/Library/LaunchAgents"})
        f.root.mkdirs(folder);
    const sandbox::TreeSnapshot before = homeTree(f.root);

    auto varno = [](std::vector<std::string> arguments) {
        host::testing::RunOptions options;
        options.argv = {std::getenv("VARNO_PROGRAM")};
        options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
        host::testing::RunResult r = host::testing::run(options);
        EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    };
    // Queues and schedules; a schedule brings the agent's launch agent and
    // its autostart entry.
    varno({"queue", "add", "Tidy", "clean-caches", "UserFonts=true"});
    varno({"schedule", "add", "Nightly", "Tidy", "--at", "+1d"});
    ASSERT_TRUE(f.root.exists("/var/root/.config/autostart/com.kvxlabs.Varno2.agent.desktop"));
    ASSERT_TRUE(f.root.exists(kLaunchAgent));
    // Login items of the suite's programs.
    const std::string agent = "/Applications/Varno.app/Contents/Resources/VarnoAgent.app";
    f.root.writeFile(std::string(kBundle) + "/Contents/MacOS/Varno", "exe", 0755);
    f.root.writeFile(agent + "/Contents/MacOS/VarnoAgent", "exe", 0755);
    KVXLSSharedFileList loginItems(QString::fromLatin1(lsfl::kLSSharedFileListSessionLoginItems));
    ASSERT_TRUE(loginItems.addFileWithURL(QUrl::fromLocalFile("/Applications/Varno.app")));
    ASSERT_TRUE(loginItems.addFileWithURL(QUrl::fromLocalFile(QString::fromStdString(agent))));
    // The main application's own folder.
    f.root.writeFile(std::string(kSupportFolder) + "/Reports/last.txt", "report");

    f.delegate->applicationDidFinishLaunching();
    EXPECT_EQ(homeTree(f.root), before);

    // A login item of another application stays.
    f.root.writeFile("/Applications/Other.app/Contents/MacOS/Other", "exe", 0755);
    f.root.writeFile(std::string(kBundle) + "/Contents/MacOS/Varno", "exe", 0755);
    ASSERT_TRUE(loginItems.addFileWithURL(QUrl::fromLocalFile("/Applications/Other.app")));
    ASSERT_TRUE(loginItems.addFileWithURL(QUrl::fromLocalFile("/Applications/Varno.app")));
    f.delegate->doUnprivileged();
    std::vector<std::string> left;
    for (const lsfl::LSSharedFileListItem& item : loginItems.files()) left.push_back(item.path);
    EXPECT_EQ(left, std::vector<std::string>{"/Applications/Other.app"});
}

// Stands in for the login manager, and never answers.
class SilentLoginManager : public QDBusVirtualObject {
  public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        received.push_back(message);
        return true;
    }
    std::vector<QDBusMessage> received;
};

TEST(UninstallerTest, TheRestartRequestIsSentWithoutWaitingForAnAnswer) {
    app::testing::usePrivateSessionBus();
    app::testing::ensureApplication();
    QDBusConnection manager =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, "login-manager");
    SilentLoginManager silent;
    ASSERT_TRUE(manager.registerVirtualObject("/org/freedesktop/login1", &silent));
    ASSERT_TRUE(manager.registerService("org.freedesktop.login1"));
    {
        QDBusConnection caller =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "uninstaller");
        EXPECT_EQ(uninstall::sendCoreEventToLoginManager(caller, uninstall::kAERestart), 0);
        ASSERT_TRUE(app::testing::waitUntil([&] { return !silent.received.empty(); }));
        const QDBusMessage& request = silent.received.front();
        EXPECT_EQ(request.interface(), "org.freedesktop.login1.Manager");
        EXPECT_EQ(request.member(), "Reboot");
        EXPECT_EQ(request.arguments(), QVariantList{true});
        EXPECT_FALSE(request.isReplyRequired());
    }
    QDBusConnection::disconnectFromBus("uninstaller");
    manager.unregisterObject("/org/freedesktop/login1");
    QDBusConnection::disconnectFromBus("login-manager");
}

}  // namespace
