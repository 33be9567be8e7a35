// The sandbox builder and its stand-in tools, run as programs.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/testing.h"
#include "plist/plist.h"
#include "sandbox/sandbox.h"

namespace {

using host::testing::RunOptions;
using host::testing::RunResult;
using host::testing::SandboxRoot;

RunResult runTool(const SandboxRoot& root, const std::string& machinePath,
                  std::vector<std::string> arguments) {
    RunOptions o;
    o.argv = std::move(arguments);
    o.argv.insert(o.argv.begin(), root.real(machinePath));
    return host::testing::run(o);
}

sandbox::BuildOptions options(std::vector<std::string> users, std::string version = "",
                              std::vector<std::string> extra = {}) {
    sandbox::BuildOptions o;
    o.users = std::move(users);
    o.systemVersion = std::move(version);
    o.extraArguments = std::move(extra);
    return o;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

TEST(SandboxBuilder, LaysOutSystemVersionAccountsAndFolders) {
    SandboxRoot root;
    sandbox::build(root, options({"ann", "bob:65534"}, "10.5.8"));

    auto version = plist::parse(*root.readFile("/System/Library/CoreServices/SystemVersion.plist"));
    ASSERT_TRUE(version);
    EXPECT_EQ(*version->find("ProductVersion")->asString(), "10.5.8");

    std::string passwd = *root.readFile("/etc/passwd");
    EXPECT_NE(passwd.find("root:*:0:0:System Administrator:/var/root:/bin/sh\n"),
              std::string::npos);
    EXPECT_NE(passwd.find("ann:*:501:20:ann:/Users/ann:/bin/bash\n"), std::string::npos);
    EXPECT_NE(passwd.find("bob:*:65534:20:bob:/Users/bob:/bin/bash\n"), std::string::npos);
    // The unprivileged default account gives way to a named user with its ID.
    EXPECT_EQ(passwd.find("nobody:"), std::string::npos);

    for (const char* folder : {"/Library/Caches", "/Library/Logs", "/private/var/log",
                               "/System/Library/Caches", "/Applications", "/private/var/db",
                               "/Users/ann/Library/Preferences", "/var/spool/cups/tmp", "/etc"})
        EXPECT_TRUE(S_ISDIR(modeOf(root.real(folder) + "/."))) << folder;
    EXPECT_EQ(modeOf(root.real("/private/tmp")) & 07777, 01777u);
    EXPECT_EQ(modeOf(root.real("/Library/Caches")) & 07777, 01777u);
    // The links into "/private" stay inside the root.
    char target[64] = {};
    ASSERT_GT(readlink(root.real("/var").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "private/var");
    if (host::testing::runningAsRoot()) {
        struct stat st {};
        ASSERT_EQ(stat(root.real("/Users/bob").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 20u);
    }
}

TEST(SandboxBuilder, RefusesBadArgumentsAndUsedFolders) {
    SandboxRoot root;
    root.writeFile("/already-here", "x");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{root.path()}, 1, "is not empty"},
        {{"/"}, 1, "refusing to lay out a system over /"},
        {{}, 64, "no root folder given"},
        {{root.path() + "/new", "--user", "a:b"}, 64, "bad number for --user"},
        {{root.path() + "/new", "--user", "x/y"}, 64, "bad user name"},
        {{root.path() + "/new", "--user", "a", "--user", "a"}, 64, "user given twice"},
        {{root.path() + "/new", "--system-version", "10.6.x"}, 64, "bad system version"},
        {{root.path() + "/new", "--content", "other"}, 64, "unknown content"},
        {{root.path() + "/new", "--localizations", "400"}, 64, "localizations per bundle"},
    };
    for (const Case& c : cases) {
        RunOptions o;
        o.argv = c.args;
        o.argv.insert(o.argv.begin(), sandbox::builderPath());
        RunResult r = host::testing::run(o);
        EXPECT_EQ(r.exitStatus, c.status) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_FALSE(root.exists("/new/Library"));
}

TEST(SandboxTools, JournalTheirArgumentVectorAndUser) {
    SandboxRoot root;
    sandbox::build(root);
    RunResult r = runTool(root, "/usr/bin/atsutil", {"server", "-ping"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "ATSServer is running.\n");
    // The caller's first element is kept, and awkward arguments survive.
    RunOptions o;
    o.argv = {root.real("/usr/sbin/diskutil"), "mount", "tab\there\nnew\\line"};
    r = host::testing::run(o);
    EXPECT_EQ(r.exitStatus, 0);

    std::vector<sandbox::JournalEntry> journal = sandbox::readJournal(root);
    uid_t me = geteuid();
    std::vector<sandbox::JournalEntry> expected = {
        {me, {"/usr/bin/atsutil", "server", "-ping"}},
        {me, {"/usr/sbin/diskutil", "mount", "tab\there\nnew\\line"}},
    };
    EXPECT_EQ(journal, expected);
}

TEST(SandboxTools, RecordTheUserTheyRunAs) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to change users";
    SandboxRoot root;
    sandbox::build(root);
    RunOptions o;
    o.argv = {root.real("/usr/bin/atsutil"), "server", "-shutdown"};
    o.uid = 65534;
    RunResult r = host::testing::run(o);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    std::vector<sandbox::JournalEntry> journal = sandbox::readJournal(root);
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].euid, 65534u);
}

TEST(SandboxTools, PrintWhatCallersParse) {
    SandboxRoot root;
    sandbox::build(root);
    RunResult list = runTool(root, "/usr/sbin/diskutil", {"list", "-plist"});
    auto disks = plist::parse(list.out);
    ASSERT_TRUE(disks) << list.out;
    EXPECT_EQ(*disks->find("WholeDisks")->asArray(), plist::Array{plist::Value("disk0")});

    RunResult info = runTool(root, "/usr/sbin/diskutil", {"info", "-plist", "disk0"});
    auto disk = plist::parse(info.out);
    ASSERT_TRUE(disk) << info.out;
    EXPECT_EQ(*disk->find("SMARTStatus")->asString(), "Verified");

    RunResult missing = runTool(root, "/usr/sbin/diskutil", {"info", "-plist", "disk9"});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_EQ(missing.out, "Could not find disk: disk9\n");

    // Restart records keep the month, day and time in characters 40 to 51.
    RunResult last = runTool(root, "/usr/bin/last", {});
    size_t reboot = last.out.find("reboot");
    ASSERT_NE(reboot, std::string::npos);
    EXPECT_EQ(last.out.substr(reboot + 40, 12), "Dec  7 09:12");

    // sudo runs its command from the same root, and both runs are journaled.
    RunResult sudo = runTool(root, "/usr/bin/sudo", {"/usr/libexec/locate.updatedb"});
    EXPECT_EQ(sudo.exitStatus, 0) << sudo.err;
    std::vector<sandbox::JournalEntry> journal = sandbox::readJournal(root);
    ASSERT_EQ(journal.size(), 6u);
    EXPECT_EQ(journal[4].argv,
              (std::vector<std::string>{"/usr/bin/sudo", "/usr/libexec/locate.updatedb"}));
    EXPECT_EQ(journal[5].argv, std::vector<std::string>{"/usr/libexec/locate.updatedb"});
}

TEST(SandboxContent, FillsCachesLogsAndLocalizedBundles) {
    SandboxRoot root;
    sandbox::build(root, options({"ann"}, "", {"--fill", "2M", "--seed", "7"}));
    EXPECT_TRUE(root.exists("/private/var/log/system.log.3.bz2"));
    EXPECT_TRUE(root.exists("/Library/Caches/com.apple.ATS/System/annex.db"));
    EXPECT_TRUE(root.exists("/Users/ann/Library/Caches/com.example.Browser/Cache.db"));
    // What the kernel cache group removes, so that the demo exercises it.
    for (const char* path : {"/System/Library/Extension.kextcache",
                             "/System/Library/Caches/com.apple.kernelcaches",
                             "/System/Library/Caches/com.apple.kext.caches/Startup"})
        EXPECT_TRUE(root.exists(path)) << path;

    sandbox::TreeSnapshot tree = sandbox::snapshotTree(root);
    int bundles = 0, lprojs = 0;
    for (const auto& [path, state] : tree) {
        bool folder = state.rfind("folder", 0) == 0;
        if (path.ends_with("/Contents/Info.plist")) {
            auto info = plist::parse(*root.readFile(path));
            ASSERT_TRUE(info && info->find("CFBundleExecutable")) << path;
            std::string bundle = path.substr(0, path.size() - 20);
            EXPECT_TRUE(root.exists(bundle + "/Contents/MacOS/" +
                                    *info->find("CFBundleExecutable")->asString()));
            ++bundles;
        }
        if (folder && path.ends_with(".lproj")) ++lprojs;
    }
    EXPECT_EQ(bundles, 30);
    EXPECT_GT(lprojs, 30 * 10);

    // The same seed gives the same tree.
    SandboxRoot again;
    sandbox::build(again, options({"ann"}, "", {"--fill", "2M", "--seed", "7"}));
    EXPECT_EQ(sandbox::snapshotTree(again), tree);
}

TEST(SandboxContent, MakesExactlyTheBundlesAsked) {
    SandboxRoot root;
    sandbox::build(root, options({}, "", {"--apps", "3", "--localizations", "5"}));
    sandbox::TreeSnapshot tree = sandbox::snapshotTree(root);
    for (const char* app : {"Text Writer", "Movie Player", "Photo Browser"}) {
        std::string resources = std::string("/Applications/") + app + ".app/Contents/Resources";
        int count = 0;
        for (const auto& [path, state] : tree)
            if (path.starts_with(resources) && path.ends_with(".lproj")) ++count;
        EXPECT_EQ(count, 5) << app;
    }
    EXPECT_TRUE(root.exists("/Applications/Text Writer.app/Contents/Resources/English.lproj"));
    EXPECT_TRUE(root.exists("/Applications/Movie Player.app/Contents/Resources/en.lproj"));
    EXPECT_FALSE(root.exists("/private/var/log/system.log"));
}

}  // namespace
