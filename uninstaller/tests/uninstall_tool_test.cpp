#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "SystemEvent.h"
#include "auth/authorization.h"
#include "uninstaller_support.h"

namespace {

using namespace uninstaller_test;

constexpr const char* kPagerDaemon = "/System/Library/LaunchDaemons/com.apple.dynamic_pager.plist";
constexpr const char* kDisabledPager =
    "/System/Library/LaunchDaemons/disabled/com.apple.dynamic_pager.plist";
constexpr const char* kStartDaemon =
    "/System/Library/LaunchDaemons/com.kvxlabs.dynamic_pager_start.plist";
constexpr const char* kStartTool = "/sbin/kvx_dynamic_pager_start";
constexpr const char* kRules = "/private/etc/kvx-authorization.plist";
constexpr const char* kRecords = "/private/var/db/kvx-auth";

std::string builtTool() {
    const char* path = std::getenv("VARNO_UNINSTALL_TOOL");
    if (path == nullptr) throw std::runtime_error("VARNO_UNINSTALL_TOOL is not set");
    return path;
}

const std::string kPagerPlist = "<plist>pager</plist>\n";

// The executor's rules as an administrator leaves them: its right and the
// administrator right for the admin group.
const std::string kRulesPlist =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
    "<key>rights</key><dict>"
    "<key>com.kvxlabs.Varno.authExec</key><dict><key>groups</key><array><string>admin</string>"
    "<string>sudo</string></array></dict>"
    "<key>system.privilege.admin</key><dict><key>groups</key><array><string>admin</string>"
    "<string>sudo</string></array></dict>"
    "</dict></dict></plist>\n";

// What a relocation leaves behind, and the executor's rules and records.
void relocate(const host::testing::SandboxRoot& root) {
    std::remove(root.real(kPagerDaemon).c_str());
    root.writeFile(kDisabledPager, kPagerPlist);
    root.writeFile(kStartDaemon, "<plist>start</plist>\n");
    root.writeFile(kStartTool, "tool", 0555);
    root.writeFile(kRules, kRulesPlist);
    // The record store as the authorization layer keeps it.
    root.mkdirs(kRecords);
    if (chmod(root.real(kRecords).c_str(), 01733) != 0) throw std::runtime_error("chmod");
    root.writeFile(std::string(kRecords) + "/0123abcd", "", 0600);
}

host::testing::RunResult runTool(const std::string& program, std::optional<uid_t> uid = {}) {
    host::testing::RunOptions o;
    o.argv = {program};
    o.uid = uid;
    return host::testing::run(o);
}

TEST(UninstallToolTest, PutsTheSwapBackRemovesTheSystemFilesAndReportsMinusOne) {
    host::testing::SandboxRoot root;
    sandbox::build(root);
    relocate(root);
    host::testing::RunResult r = runTool(builtTool());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_LT(r.out.size(), 2048u);
    ASSERT_GE(r.out.size(), 9u);
    EXPECT_EQ(r.out.substr(r.out.size() - 9), "EXIT: -1\n") << r.out;
    EXPECT_NE(r.out.find("\tRe-enabling com.apple.dynamic_pager.plist...\n"), std::string::npos);
    EXPECT_EQ(root.readFile(kPagerDaemon), kPagerPlist);
    for (const char* gone : {kDisabledPager, kStartDaemon, kStartTool, kRules, kRecords})
        EXPECT_FALSE(root.exists(gone)) << gone;
}

TEST(UninstallToolTest, WithoutARelocationItReportsZeroAndLeavesThePagerAlone) {
    host::testing::SandboxRoot root;
    sandbox::build(root);
    root.writeFile(kPagerDaemon, kPagerPlist);
    host::testing::RunResult r = runTool(builtTool());
    EXPECT_EQ(r.out, "EXIT: 0\n");
    EXPECT_EQ(root.readFile(kPagerDaemon), kPagerPlist);
}

// Both the disabled copy and an active pager daemon: the way back cannot move
// the copy, which must read as a failure, never as -1.
TEST(UninstallToolTest, AFailedWayBackIsAFailure) {
    host::testing::SandboxRoot root;
    sandbox::build(root);
    relocate(root);
    root.writeFile(kPagerDaemon, kPagerPlist);
    host::testing::RunResult r = runTool(builtTool());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.out.find("re-enabling default launch daemon"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("EXIT: -1"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("EXIT: 0"), std::string::npos) << r.out;
    EXPECT_FALSE(root.exists(kStartDaemon));
    EXPECT_FALSE(root.exists(kStartTool));
}

TEST(UninstallToolTest, RefusesToRunAsAnyoneButRoot) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to drop to another user";
    host::testing::SandboxRoot root;
    sandbox::build(root);
    relocate(root);
    host::testing::TempDir dir;
    const std::string copy = dir.path() + "/uninstallTool";
    host::testing::copyFile(builtTool(), copy);
    const sandbox::TreeSnapshot before = sandbox::snapshotTree(root, {});
    host::testing::RunResult r = runTool(copy, 65534);
    EXPECT_EQ(r.out, "\t***Error: uninstallTool must run as root.\nEXIT: 1\n");
    EXPECT_EQ(sandbox::snapshotTree(root, {}), before);
}

// The real tool started through the authorization layer, from the delegate.
TEST(UninstallToolTest, TheWholeUninstallationOfARelocatedSuiteOffersARestart) {
    Fixture f;
    f.installSuite();
    relocate(f.root);
    host::testing::copyFile(builtTool(), f.bundle + "/Contents/MacOS/uninstallTool");
    f.alerts.answer(1);
    f.alerts.answer(1);
    f.delegate->applicationDidFinishLaunching();
    ASSERT_EQ(f.alerts.shown().size(), 2u);
    EXPECT_EQ(f.alerts.shown()[1].messageText, "Restart Recommended")
        << f.log.lines().join('\n').toStdString();
    EXPECT_EQ(f.root.readFile(uninstall::kSystemEventsLogPath), "aevt\trest\tpsn 0 1\n");
    EXPECT_EQ(f.root.readFile(kPagerDaemon), kPagerPlist);
    for (const char* gone : {kBundle, kLaunchAgent, kStartDaemon, kStartTool, kRules})
        EXPECT_FALSE(f.root.exists(gone)) << gone;
    EXPECT_EQ(f.terminations, 1);
}

std::string environmentPath(const char* name) {
    const char* path = std::getenv(name);
    if (path == nullptr) throw std::runtime_error(std::string(name) + " is not set");
    return path;
}

void chownTree(const std::string& path, uid_t uid) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
        ASSERT_EQ(lchown(entry.path().c_str(), uid, uid), 0);
    ASSERT_EQ(lchown(path.c_str(), uid, uid), 0);
}

// An administrator who is not root: the privileged part goes through the
// set-user-ID trampoline in the uninstaller's bundle.
TEST(UninstallToolTest, AnAdministratorUninstallsThroughTheTrampoline) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to install the trampoline";
    constexpr uid_t kUser = 65534;
    struct group* admins = getgrnam("sudo");
    ASSERT_NE(admins, nullptr);
    host::testing::SandboxRoot root;
    sandbox::BuildOptions options;
    options.users = {"tester:65534"};
    sandbox::build(root, options);
    relocate(root);
    // The store exists once anyone has authorized; only root makes it.
    {
        auth::AuthorizationRef made;
        ASSERT_EQ(auth::AuthorizationCreate(nullptr, 0, &made), 0);
    }
    const std::string home = "/Users/tester";
    for (const char* item : {"/Library/LaunchAgents/com.kvxlabs.Varno2.agent.plist",
                             "/Library/Preferences/com.kvxlabs.Varno2.plist",
                             "/Library/Application Support/Varno/q.plist"})
        root.writeFile(home + item, "x");
    chownTree(root.real(home), kUser);
    root.writeFile(std::string(kBundle) + "/Contents/MacOS/Varno", "exe", 0755);
    chownTree(root.real(kBundle), kUser);
    // Administrators may change the Applications folder.
    ASSERT_EQ(chown(root.real("/Applications").c_str(), 0, admins->gr_gid), 0);
    root.writeFile(uninstall::kSystemEventsLogPath, "");
    ASSERT_EQ(chown(root.real(uninstall::kSystemEventsLogPath).c_str(), kUser, kUser), 0);

    host::testing::TempDir dir;
    const std::string macos = dir.path() + "/VarnoUninstaller.app/Contents/MacOS";
    std::filesystem::create_directories(macos);
    host::testing::copyFile(environmentPath("VARNO_UNINSTALLER_DRIVER"),
                            macos + "/VarnoUninstaller");
    host::testing::copyFile(builtTool(), macos + "/uninstallTool");
    const std::string trampoline = macos + "/kvx-authtrampoline";
    host::testing::copyFile(environmentPath("VARNO_AUTH_TRAMPOLINE"), trampoline);
    ASSERT_EQ(chown(trampoline.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(trampoline.c_str(), 04755), 0);
    std::ofstream(macos + "/system-root") << root.path() << "\n";

    host::testing::RunOptions o;
    o.argv = {macos + "/VarnoUninstaller", "1", "1"};
    o.uid = kUser;
    o.gid = kUser;
    o.groups = {admins->gr_gid};
    o.unsetEnv = {"XDG_RUNTIME_DIR"};
    host::testing::RunResult r = host::testing::run(o);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("log: doPrivileged\nalert: Uninstall Varno\nalert: Restart Recommended\n"
                         "terminated 1\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("failed"), std::string::npos) << r.out;
    EXPECT_EQ(root.readFile(uninstall::kSystemEventsLogPath), "aevt\trest\tpsn 0 1\n");
    EXPECT_EQ(root.readFile(kPagerDaemon), kPagerPlist);
    for (const char* gone : {kBundle, kStartDaemon, kStartTool, kRules, kRecords})
        EXPECT_FALSE(root.exists(gone)) << gone;
    EXPECT_FALSE(root.exists(home + "/Library/Application Support/Varno"));
    std::vector<sandbox::JournalEntry> runs = sandbox::readJournal(root);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], (sandbox::JournalEntry{kUser, {"/usr/bin/killall", "Varno"}}));
    EXPECT_EQ(runs[1], (sandbox::JournalEntry{kUser, {"/usr/bin/killall", "VarnoAgent"}}));
}

}  // namespace
