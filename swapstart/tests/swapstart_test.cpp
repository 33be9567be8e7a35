// The swap start tool: its building blocks called directly, and the program
// run on sandbox roots whose mount table and disk utility answers the tests
// set.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PagerStart.h"
#include "executor_harness.h"
#include "host/testing.h"
#include "sandbox/sandbox.h"

namespace {

using executor_test::captureStdout;
using host::testing::RunResult;
using host::testing::SandboxRoot;

constexpr const char* kMountTable = "/private/var/db/varno-sandbox/mounts";
constexpr const char* kDataLine = "/dev/disk1s2 on /Volumes/Data (hfs, local, journaled)\n";
constexpr const char* kDataNoOwnersLine =
    "/dev/disk1s2 on /Volumes/Data (hfs, local, journaled, noowners)\n";

std::string toolPath() {
    return host::testing::bundlePath("Contents/Resources/kvx_dynamic_pager_start");
}

// Every child this process started has ended (vsdbutil is not waited for by
// the tool itself).
void waitForChildren() {
    while (waitpid(-1, nullptr, 0) > 0) {
    }
}

std::vector<std::vector<std::string>> toolRuns(const SandboxRoot& root) {
    std::vector<std::vector<std::string>> runs;
    for (const sandbox::JournalEntry& entry : sandbox::readJournal(root))
        runs.push_back(entry.argv);
    return runs;
}

// The messages of the log, without their time stamps; every line must carry one.
std::vector<std::string> logMessages(const SandboxRoot& root) {
    std::vector<std::string> messages;
    std::istringstream lines(root.readFile(kPagerStartLog).value_or(""));
    static const std::regex kLine(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d (AM|PM)  (.*))");
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch match;
        EXPECT_TRUE(std::regex_match(line, match, kLine)) << line;
        messages.push_back(match.size() > 2 ? match[2].str() : line);
    }
    return messages;
}

// Mode, owner and group, as "755 0:0".
std::string statOf(const SandboxRoot& root, const std::string& machinePath) {
    struct stat st {};
    EXPECT_EQ(lstat(root.real(machinePath).c_str(), &st), 0) << machinePath;
    char text[64];
    snprintf(text, sizeof text, "%o %u:%u", st.st_mode & 07777, st.st_uid, st.st_gid);
    return text;
}

class SwapStart : public ::testing::Test {
  protected:
    void SetUp() override {
        sandbox::build(root);
        root.mkdirs("/Volumes/Data");
        setenv("VARNO_SWAP_OWNERSHIP_PAUSE_SECONDS", "0", 1);
    }
    void TearDown() override { unsetenv("VARNO_SWAP_OWNERSHIP_PAUSE_SECONDS"); }

    SandboxRoot root;
};

TEST_F(SwapStart, LogLinesCarryTheStampTwoSpacesAndTheMessage) {
    std::string out = captureStdout([] {
        dpw_log("first");
        dpw_logf("second %s %d", "with", 2);
    });
    EXPECT_EQ(out, "first\nsecond with 2\n");
    EXPECT_EQ(logMessages(root), (std::vector<std::string>{"first", "second with 2"}));
    // A log that cannot be opened leaves the message on standard output only.
    host::testing::removeTree(root.real("/Library/Logs"));
    EXPECT_EQ(captureStdout([] { dpw_log("only here"); }), "only here\nError opening log file.\n");
}

TEST_F(SwapStart, VolumeMountedNeedsTheExactMountPointAsAFolder) {
    EXPECT_FALSE(volume_mounted("/Volumes/Data"));
    root.mkdirs("/Volumes/Data 2");
    root.writeFile(kMountTable, "/dev/disk1s2 on /Volumes/Data 2 (hfs, local, journaled)\n");
    EXPECT_TRUE(volume_mounted("/Volumes/Data 2"));
    // A volume whose mount point merely starts with the name is another one.
    EXPECT_FALSE(volume_mounted("/Volumes/Data"));
    EXPECT_FALSE(volume_mounted("/Volumes/Backup"));
    // Listed, but the path is a link to a folder elsewhere.
    root.mkdirs("/Users/Shared/elsewhere");
    ASSERT_EQ(rename(root.real("/Volumes/Data").c_str(), root.real("/Volumes/Old").c_str()), 0);
    ASSERT_EQ(symlink("../Users/Shared/elsewhere", root.real("/Volumes/Data").c_str()), 0);
    root.writeFile(kMountTable, kDataLine);
    EXPECT_FALSE(volume_mounted("/Volumes/Data"));
    EXPECT_EQ(toolRuns(root), std::vector<std::vector<std::string>>(5, {"mount"}));
}

TEST_F(SwapStart, OwnershipAlreadyEnabledLogsNothingAndRunsNothing) {
    root.writeFile(kMountTable, kDataLine);
    std::string out = captureStdout([] { EXPECT_EQ(enable_ownership("/Volumes/Data"), 0); });
    waitForChildren();
    EXPECT_NE(out.find("<key>GlobalPermissionsEnabled</key>\n\t<true/>"), std::string::npos) << out;
    EXPECT_EQ(
        toolRuns(root),
        (std::vector<std::vector<std::string>>{{"diskutil", "info", "-plist", "/Volumes/Data"}}));
    EXPECT_FALSE(root.exists(kPagerStartLog));
}

TEST_F(SwapStart, OwnershipDisabledIsEnabledWithVsdbutil) {
    root.writeFile(kMountTable, kDataNoOwnersLine);
    EXPECT_FALSE(ownership_enabled("/Volumes/Data"));
    captureStdout([] { EXPECT_EQ(enable_ownership("/Volumes/Data"), 0); });
    waitForChildren();
    EXPECT_EQ(logMessages(root), (std::vector<std::string>{"Enabling ownership on /Volumes/Data"}));
    std::vector<std::vector<std::string>> runs = toolRuns(root);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[2], (std::vector<std::string>{"vsdbutil", "-a", "/Volumes/Data"}));
    // The sandbox's volume now has ownership on.
    EXPECT_TRUE(ownership_enabled("/Volumes/Data"));
}

// Answers the disk utility gives that cannot be read: ownership counts as
// disabled, so vsdbutil is run even for a volume that has it on.
TEST_F(SwapStart, UnreadableDiskUtilityAnswersCountAsDisabled) {
    struct Case {
        const char* name;
        std::string script;
        const char* message;
    };
    // A true answer that the 2048-byte buffer cuts before its end.
    std::string longAnswer = "printf '<plist version=\"1.0\"><dict><key>Padding</key><string>" +
                             std::string(3000, 'x') +
                             "</string><key>GlobalPermissionsEnabled</key><true/></dict>"
                             "</plist>\\n'\n";
    const Case cases[] = {
        {"cut at the buffer's size", longAnswer, "Error parsing diskutil plist.\n"},
        {"no output", "exit 0\n", "Error getting diskutil results.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        root.writeFile(sandbox::kJournalPath, "", 0666);
        root.writeFile("/usr/libexec/varno-sandbox/diskutil", "#!/bin/sh\n" + c.script, 0755);
        std::string out = captureStdout([] { EXPECT_EQ(enable_ownership("/Volumes/Data"), 0); });
        waitForChildren();
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
        std::vector<std::vector<std::string>> runs = toolRuns(root);
        ASSERT_EQ(runs.size(), 2u);
        EXPECT_EQ(runs[1], (std::vector<std::string>{"vsdbutil", "-a", "/Volumes/Data"}));
    }
}

TEST_F(SwapStart, ExistingSwapFolderIsNotLoggedButGetsOwnerAndMode) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to change owners";
    root.mkdirs("/Volumes/Data/.vm", 0777);
    root.writeFile("/Volumes/Data/.vm/swapfile0", "swap", 0600);
    ASSERT_EQ(chown(root.real("/Volumes/Data/.vm").c_str(), 0, 20), 0);
    captureStdout([] { EXPECT_EQ(create_swap_dir("/Volumes/Data/.vm"), 0); });
    EXPECT_EQ(statOf(root, "/Volumes/Data/.vm"), "755 0:0");
    EXPECT_TRUE(root.exists("/Volumes/Data/.vm/swapfile0"));
    EXPECT_FALSE(root.exists(kPagerStartLog));
}

// A swap folder someone else made or filled is never used: root's pager
// would write into it, and fill its links.
TEST_F(SwapStart, ASwapFolderItDidNotMakeIsMovedAsideAndANewOneMade) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to change owners";
    struct Case {
        const char* name;
        uid_t owner;
        const char* entry;  // besides a swap file of the owner's
        const char* reason;
    };
    const Case cases[] = {
        {"a user's, with a link named like a swap file", 65534, "swapfile1",
         "it is not owned by root"},
        {"root's, with a file of a user's", 0, "notes",
         "it holds files that are not the pager's swap files"},
    };
    // A volume anyone can write to, as removable ones often are.
    chmod(root.real("/Volumes/Data").c_str(), 01777);
    root.writeFile("/private/var/root/victim", "root's", 0600);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        root.mkdirs("/Volumes/Data/.vm", 0777);
        const std::string swap = root.writeFile("/Volumes/Data/.vm/swapfile0", "", 0666);
        const std::string entry = root.real(std::string("/Volumes/Data/.vm/") + c.entry);
        ASSERT_EQ(symlink(root.real("/private/var/root/victim").c_str(), entry.c_str()), 0);
        for (const std::string& path : {root.real("/Volumes/Data/.vm"), swap, entry})
            ASSERT_EQ(lchown(path.c_str(), c.owner, c.owner), 0);

        captureStdout([] { EXPECT_EQ(create_swap_dir("/Volumes/Data/.vm"), 0); });
        EXPECT_EQ(statOf(root, "/Volumes/Data/.vm"), "755 0:0");
        EXPECT_FALSE(root.exists("/Volumes/Data/.vm/swapfile0"));
        // The other folder is left to its owner under a name of its own.
        const std::string aside = "/Volumes/Data/.vm.moved-aside";
        EXPECT_EQ(statOf(root, aside + "/swapfile0").substr(4),
                  c.owner == 0 ? "0:0" : "65534:65534");
        EXPECT_TRUE(root.exists(aside + "/" + c.entry));
        EXPECT_EQ(statOf(root, "/private/var/root/victim"), "600 0:0");
        EXPECT_EQ(root.readFile("/private/var/root/victim"), "root's");
        EXPECT_EQ(logMessages(root),
                  (std::vector<std::string>{std::string("Moved /Volumes/Data/.vm aside to ") +
                                                "/Volumes/Data/.vm.moved-aside: " + c.reason + ".",
                                            "Created new swap directory at /Volumes/Data/.vm"}));
        host::testing::removeTree(root.real(aside));
        host::testing::removeTree(root.real("/Volumes/Data/.vm"));
        host::testing::removeTree(root.real(kPagerStartLog));
    }
    // On a volume where anyone may rename what root made, no folder is made.
    chmod(root.real("/Volumes/Data").c_str(), 0777);
    captureStdout([] { EXPECT_EQ(create_swap_dir("/Volumes/Data/.vm"), -1); });
    EXPECT_FALSE(root.exists("/Volumes/Data/.vm"));
    EXPECT_EQ(logMessages(root),
              (std::vector<std::string>{"Error creating directory /Volumes/Data/.vm: a folder on "
                                        "its way is not root's alone."}));
}

TEST_F(SwapStart, NewSwapFolderIsLoggedAndGetsItsModeWhateverTheMask) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to change owners";
    mode_t old = umask(077);
    captureStdout([] { EXPECT_EQ(create_swap_dir("/Volumes/Data/.vm"), 0); });
    umask(old);
    EXPECT_EQ(statOf(root, "/Volumes/Data/.vm"), "755 0:0");
    EXPECT_EQ(logMessages(root),
              (std::vector<std::string>{"Created new swap directory at /Volumes/Data/.vm"}));
}

TEST_F(SwapStart, SwapFolderFailuresAreLoggedAndTouchNothingElse) {
    // No volume at all, and a link planted where the swap folder belongs.
    root.mkdirs("/private/var/secret", 0700);
    ASSERT_EQ(symlink("../../private/var/secret", root.real("/Volumes/Data/.vm").c_str()), 0);
    captureStdout([] {
        EXPECT_EQ(create_swap_dir("/Volumes/Gone/.vm"), -1);
        EXPECT_EQ(create_swap_dir("/Volumes/Data/.vm"), -1);
    });
    EXPECT_EQ(logMessages(root),
              (std::vector<std::string>{
                  "Error creating directory /Volumes/Gone/.vm: No such file or directory (2)",
                  "Error setting owner and group on /Volumes/Data/.vm: Not a directory (20)"}));
    EXPECT_EQ(statOf(root, "/private/var/secret").substr(0, 4), "700 ");
}

TEST_F(SwapStart, WaitsAreShortenedOnlyDownwardsUnderASandbox) {
    struct Case {
        const char* value;
        unsigned expected;
    };
    const Case cases[] = {{"3", 3}, {"0", 0}, {"500", 120}, {"-1", 120}, {"2x", 120}, {"", 120}};
    for (const Case& c : cases) {
        setenv("VARNO_SWAP_MOUNT_WAIT_SECONDS", c.value, 1);
        EXPECT_EQ(mountWaitSeconds(), c.expected) << c.value;
    }
    unsetenv("VARNO_SWAP_MOUNT_WAIT_SECONDS");
    EXPECT_EQ(mountWaitSeconds(), 120u);
    setenv("VARNO_SWAP_OWNERSHIP_PAUSE_SECONDS", "9", 1);
    EXPECT_EQ(ownershipPauseSeconds(), 5u);
}

// The program as launchd starts it.

RunResult runTool(const std::vector<std::string>& arguments, const std::string& waitSeconds) {
    host::testing::RunOptions o;
    o.argv = {toolPath()};
    o.argv.insert(o.argv.end(), arguments.begin(), arguments.end());
    o.env = {{"VARNO_SWAP_MOUNT_WAIT_SECONDS", waitSeconds},
             {"VARNO_SWAP_OWNERSHIP_PAUSE_SECONDS", "1"}};
    return host::testing::run(o);
}

TEST_F(SwapStart, WrongArgumentsGiveUsageAndExit64) {
    const std::vector<std::vector<std::string>> cases = {{},
                                                         {"/Volumes/Data"},
                                                         {"/Volumes/Data", "/.vm", "more"},
                                                         {"Data", "/.vm"},
                                                         {"/Volumes/Data", ".vm"},
                                                         {"", "/.vm"}};
    for (const std::vector<std::string>& arguments : cases) {
        RunResult r = runTool(arguments, "0");
        EXPECT_EQ(r.exitStatus, 64) << arguments.size();
        EXPECT_NE(r.err.find("usage: kvx_dynamic_pager_start MOUNT-POINT SWAP-FOLDER"),
                  std::string::npos);
    }
    EXPECT_TRUE(toolRuns(root).empty());
}

TEST_F(SwapStart, WaitsForTheVolumeThenStartsThePagerOnIt) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to change owners";
    std::thread mounter([this] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        root.writeFile(kMountTable, kDataNoOwnersLine);
    });
    RunResult r = runTool({"/Volumes/Data", "/.vm"}, "120");
    mounter.join();
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;

    std::vector<std::vector<std::string>> runs = toolRuns(root);
    // At least two checks before the volume appeared, its ownership check, then
    // vsdbutil and the pager (in either order: vsdbutil is not waited for).
    ASSERT_GE(runs.size(), 5u);
    EXPECT_EQ(runs[0], std::vector<std::string>{"mount"});
    EXPECT_EQ(runs[1], std::vector<std::string>{"mount"});
    EXPECT_NE(std::find(runs.begin(), runs.end(),
                        std::vector<std::string>{"/sbin/dynamic_pager", "-F",
                                                 "/Volumes/Data/.vm/swapfile"}),
              runs.end());
    EXPECT_NE(std::find(runs.begin(), runs.end(),
                        std::vector<std::string>{"vsdbutil", "-a", "/Volumes/Data"}),
              runs.end());
    std::vector<std::string> messages = logMessages(root);
    ASSERT_GE(messages.size(), 4u);
    EXPECT_EQ(messages.front(), "Waiting for /Volumes/Data to be mounted...");
    EXPECT_EQ(messages.back(), "Starting /sbin/dynamic_pager -F /Volumes/Data/.vm/swapfile");
    EXPECT_NE(std::find(messages.begin(), messages.end(), "Enabling ownership on /Volumes/Data"),
              messages.end());
    EXPECT_EQ(statOf(root, "/Volumes/Data/.vm"), "755 0:0");
}

TEST_F(SwapStart, AVolumeThatNeverAppearsFallsBackToTheDefaultPager) {
    RunResult r = runTool({"/Volumes/Data", "/.vm"}, "2");
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(toolRuns(root), (std::vector<std::vector<std::string>>{
                                  {"mount"},
                                  {"mount"},
                                  {"mount"},
                                  {"/sbin/dynamic_pager", "-F", "/private/var/vm/swapfile"}}));
    EXPECT_EQ(logMessages(root),
              (std::vector<std::string>{
                  "Waiting for /Volumes/Data to be mounted...",
                  "/Volumes/Data was not mounted within 2 seconds; using the default swap files "
                  "/private/var/vm/swapfile.",
                  "Starting /sbin/dynamic_pager -F /private/var/vm/swapfile"}));
    EXPECT_FALSE(root.exists("/Volumes/Data/.vm"));
}

TEST_F(SwapStart, ASwapFolderThatCannotBeSetUpFallsBackToTheDefaultPager) {
    root.writeFile(kMountTable, kDataLine);
    root.writeFile("/Volumes/Data/.vm", "not a folder");
    RunResult r = runTool({"/Volumes/Data", "/.vm"}, "0");
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    std::vector<std::vector<std::string>> runs = toolRuns(root);
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs.back(),
              (std::vector<std::string>{"/sbin/dynamic_pager", "-F", "/private/var/vm/swapfile"}));
    std::vector<std::string> messages = logMessages(root);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1],
              "Cannot keep swap files in /Volumes/Data/.vm; using the default swap files "
              "/private/var/vm/swapfile.");
}

// Only a user's volume "Data 1" is mounted, and the user has made
// "/Volumes/Data" a link to a folder of their own: the machine's swap must
// not go there.
TEST_F(SwapStart, AUsersLinkBesideAnotherVolumeGetsNoSwap) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to change owners";
    host::testing::removeTree(root.real("/Volumes/Data"));
    root.mkdirs("/Volumes/Data 1");
    root.mkdirs("/Users/evil/swap", 0777);
    ASSERT_EQ(chown(root.real("/Users/evil/swap").c_str(), 65534, 65534), 0);
    ASSERT_EQ(symlink("../Users/evil/swap", root.real("/Volumes/Data").c_str()), 0);
    ASSERT_EQ(lchown(root.real("/Volumes/Data").c_str(), 65534, 65534), 0);
    root.writeFile(kMountTable, "/dev/disk2s1 on /Volumes/Data 1 (hfs, local, journaled)\n");

    RunResult r = runTool({"/Volumes/Data", "/.vm"}, "1");
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    std::vector<std::vector<std::string>> runs = toolRuns(root);
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs.back(),
              (std::vector<std::string>{"/sbin/dynamic_pager", "-F", "/private/var/vm/swapfile"}));
    EXPECT_FALSE(root.exists("/Users/evil/swap/.vm"));
}

// Every object below a real folder, by inode: its owner and mode.
std::map<ino_t, std::string> ownersBelow(const std::string& folder) {
    std::map<ino_t, std::string> owners;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st {};
        if (lstat(it->path().c_str(), &st) == 0)
            owners[st.st_ino] = std::to_string(st.st_uid) + " " + std::to_string(st.st_mode);
    }
    return owners;
}

// A user without rights swaps the folders they own on the tool's way with
// links, as fast as they can, while the tool runs again and again: nothing
// outside the volume's folder changes, and nothing of theirs changes owner
// or mode.
TEST_F(SwapStart, LinksSwappedInWhileItRunsChangeNothingElsewhere) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to act as another user";
    host::testing::TempDir outside;
    ASSERT_EQ(mkdir((outside.path() + "/inner").c_str(), 0700), 0);
    root.writeFile("/Users/victim/Documents/letter", "x", 0600);
    const std::vector<std::string> targets = {root.real("/private/etc"), root.real("/Users/victim"),
                                              outside.path() + "/inner"};
    root.writeFile(kMountTable, kDataLine);

    struct Scenario {
        const char* name;
        std::string swapped;  // the user's own folder, exchanged with links
    };
    const Scenario scenarios[] = {{"the volume's folder is the user's", "/Volumes/Data"},
                                  {"the swap folder is the user's", "/Volumes/Data/.vm"}};
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        host::testing::removeTree(root.real("/Volumes/Data"));
        root.mkdirs("/Volumes/Data", 01777);
        root.mkdirs(scenario.swapped, 0777);
        const std::string swapped = root.real(scenario.swapped);
        std::vector<std::string> links;
        for (size_t i = 0; i < targets.size(); ++i) {
            links.push_back(swapped + "-link" + std::to_string(i));
            ASSERT_EQ(symlink(targets[i].c_str(), links.back().c_str()), 0);
            ASSERT_EQ(lchown(links.back().c_str(), 65534, 65534), 0);
        }
        ASSERT_EQ(chown(swapped.c_str(), 65534, 65534), 0);
        const std::vector<std::string> ignored = {sandbox::kJournalPath, kPagerStartLog,
                                                  "/Volumes"};
        const sandbox::TreeSnapshot before = sandbox::snapshotTree(root, ignored);
        const std::map<ino_t, std::string> volumeBefore = ownersBelow(root.real("/Volumes"));
        const std::map<ino_t, std::string> outsideBefore = ownersBelow(outside.path());

        pid_t hostile = fork();
        ASSERT_GE(hostile, 0);
        if (hostile == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
            for (size_t i = 0;; ++i)
                renameat2(AT_FDCWD, swapped.c_str(), AT_FDCWD, links[i % links.size()].c_str(),
                          RENAME_EXCHANGE);
        }
        for (int round = 0; round < 15; ++round) {
            RunResult r = runTool({"/Volumes/Data", "/.vm"}, "0");
            EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
        }
        kill(hostile, SIGKILL);
        waitpid(hostile, nullptr, 0);

        EXPECT_EQ(sandbox::snapshotTree(root, ignored), before);
        for (const auto& [inode, owner] : ownersBelow(root.real("/Volumes"))) {
            auto was = volumeBefore.find(inode);
            if (was != volumeBefore.end()) {
                EXPECT_EQ(owner, was->second) << inode;
            }
        }
        EXPECT_EQ(ownersBelow(outside.path()), outsideBefore);
    }
}

}  // namespace
