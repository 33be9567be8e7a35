// Cache and log cleaning, run through the executor program on sandbox roots.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Protocol.h"
#include "cleaning_support.h"
#include "executor_harness.h"
#include "operations/CleanCachesLogs.h"

namespace {

using cleaning_test::progress;
using cleaning_test::request;
using cleaning_test::runOperation;
using cleaning_test::sizeRecord;
using host::testing::removeTree;
using host::testing::RunResult;
using host::testing::SandboxRoot;

constexpr const char* kCaches = "KVXAEUserSystemCleanCachesAuthExec";
constexpr const char* kLogs = "KVXAEUserSystemCleanLogsAuthExec";

const std::vector<std::string> kAllCacheKeys = {
    "UserFonts",           "UserAudio",       "UserQuickTime", "UserSpotlight",
    "UserColorSync",       "UserDockIcons",   "SystemBoot",    "SystemKernel",
    "SystemFonts",         "SystemQuickTime", "SystemCUPS",    "SystemLookupDaemon",
    "SystemTemporaryItems"};
const std::vector<std::string> kAllLogKeys = {"UserConsole",
                                              "UserCrashReporter",
                                              "UserHangReporter",
                                              "UserDiagnosticReports",
                                              "UserDirectoryService",
                                              "UserSoftwareUpdate",
                                              "UserFileSharing",
                                              "UserPanic",
                                              "SystemAppleSystem",
                                              "SystemCrashReporter",
                                              "SystemLPRIPPrinting",
                                              "SystemMail",
                                              "SystemSystem",
                                              "SystemCUPS",
                                              "SystemDirectoryService",
                                              "SystemSecurity",
                                              "SystemFTP",
                                              "SystemFSCKHFS",
                                              "SystemDiagnosticMessages",
                                              "SystemLookupDaemon",
                                              "SystemWebSharing",
                                              "SystemCronScripts",
                                              "SystemWindowServer",
                                              "SystemSombaServer",
                                              "SystemKernel",
                                              "SystemInstall"};

std::string removing(const std::string& path) {
    return "\tRemoving " + path + "\n";
}

class CleanCachesLogs : public ::testing::Test {
  protected:
    void SetUp() override { cleaning_test::buildSystem(root); }

    RunResult run(const std::string& identifier, const std::vector<std::string>& keys,
                  bool debug = false) {
        RunResult r = runOperation(root, request(identifier, keys, debug));
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return r;
    }

    SandboxRoot root;
};

TEST_F(CleanCachesLogs, NoSelectionKeysWriteOnlyAZeroTotal) {
    // A key of the other operation's table is not this one's to read.
    root.writeFile("/private/tmp/stays", "1234");
    root.writeFile("/private/var/log/system.log", "1234");
    sandbox::TreeSnapshot before = sandbox::snapshotTree(root);
    EXPECT_EQ(run(kCaches, {"SystemSystem"}).out, sizeRecord(kCaches, 0));
    EXPECT_EQ(run(kLogs, {"SystemTemporaryItems"}).out, sizeRecord(kLogs, 0));
    EXPECT_EQ(sandbox::snapshotTree(root), before);
}

TEST_F(CleanCachesLogs, UserFontsDeletesFontCachesAndRestartsTheFontServer) {
    root.writeFile("/Library/Caches/com.apple.ATS/System/annex.db", std::string(100, 'a'));
    root.writeFile("/Library/Caches/com.apple.ATS/.lock", std::string(5, 'b'));
    root.writeFile("/Library/Caches/com.apple.psnormalizer.fontcache.le.501", std::string(7, 'c'));
    root.writeFile("/Library/Caches/my-fontcache/cache.db", std::string(11, 'd'));
    // Matching is case-sensitive.
    root.writeFile("/Library/Caches/FontCache.db", "keep");
    root.writeFile("/Library/Caches/com.apple.dock.iconcache.501", "keep");

    RunResult r = run(kCaches, {"UserFonts"});
    EXPECT_EQ(r.out, removing("/Library/Caches/com.apple.ATS/.lock") +
                         removing("/Library/Caches/com.apple.ATS/System") +
                         removing("/Library/Caches/com.apple.psnormalizer.fontcache.le.501") +
                         removing("/Library/Caches/my-fontcache") + progress(10, -1) +
                         "\tatsutil: System database:\n\tatsutil: \tRemoved.\n"
                         "\tatsutil: User database:\n\tatsutil: \tRemoved.\n" +
                         progress(10, -1) + "\tatsutil: ATSServer shut down.\n" + progress(10, -1) +
                         "\tatsutil: ATSServer is running.\n" + progress(10, -1) +
                         sizeRecord(kCaches, 100 + 5 + 7 + 11));

    EXPECT_TRUE(root.exists("/Library/Caches/com.apple.ATS"));
    EXPECT_FALSE(root.exists("/Library/Caches/com.apple.ATS/System"));
    EXPECT_FALSE(root.exists("/Library/Caches/my-fontcache"));
    EXPECT_TRUE(root.exists("/Library/Caches/FontCache.db"));
    EXPECT_TRUE(root.exists("/Library/Caches/com.apple.dock.iconcache.501"));

    std::vector<sandbox::JournalEntry> expected = {
        {0, {"atsutil", "databases", "-remove"}},
        {0, {"atsutil", "server", "-shutdown"}},
        {0, {"atsutil", "server", "-ping"}},
    };
    EXPECT_EQ(sandbox::readJournal(root), expected);
}

// The database removal runs as the superuser, the server commands as the
// user who started the executor.
TEST_F(CleanCachesLogs, FontServerCommandsRunAsTheirUsers) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to change users";
    ASSERT_EQ(setreuid(65534, 0), 0);
    std::string out = executor_test::captureStdout([] {
        plist::Dictionary parameters;
        parameters["UserFonts"] = plist::Value::boolean(true);
        userSystemCleanCaches(parameters);
    });
    ASSERT_EQ(setreuid(0, 0), 0);
    std::vector<sandbox::JournalEntry> journal = sandbox::readJournal(root);
    ASSERT_EQ(journal.size(), 3u) << out;
    EXPECT_EQ(journal[0].euid, 0u);
    EXPECT_EQ(journal[1].euid, 65534u);
    EXPECT_EQ(journal[2].euid, 65534u);
    EXPECT_EQ(journal[2].argv, (std::vector<std::string>{"atsutil", "server", "-ping"}));
}

TEST_F(CleanCachesLogs, SystemSystemDeletesEverySystemLogDirectlyInTheLogFolder) {
    root.writeFile("/private/var/log/system.log", std::string(10, 'a'));
    root.writeFile("/private/var/log/system.log.0.bz2", std::string(20, 'b'));
    root.writeFile("/private/var/log/old system.log folder/system.log", std::string(30, 'c'));
    root.writeFile("/private/var/log/asl/system.log", "keep");
    root.writeFile("/private/var/log/System.log", "keep");
    root.writeFile("/private/var/log/kernel.log", "keep");

    RunResult r = run(kLogs, {"SystemSystem"});
    EXPECT_EQ(r.out, removing("/private/var/log/old system.log folder") +
                         removing("/private/var/log/system.log") +
                         removing("/private/var/log/system.log.0.bz2") + progress(10, -1) +
                         sizeRecord(kLogs, 60));
    EXPECT_TRUE(root.exists("/private/var/log/asl/system.log"));
    EXPECT_TRUE(root.exists("/private/var/log/System.log"));
    EXPECT_TRUE(root.exists("/private/var/log/kernel.log"));
}

TEST_F(CleanCachesLogs, DirectoryServiceLogsAreEmptiedThenTheirFolderGoes) {
    root.writeFile("/Library/Logs/DirectoryService/DirectoryService.error.log",
                   std::string(3, 'e'));
    root.writeFile("/Library/Logs/DirectoryService/DirectoryService.server.log",
                   std::string(4, 's'));

    RunResult r = run(kLogs, {"UserDirectoryService", "SystemDirectoryService"});
    EXPECT_EQ(r.out, removing("/Library/Logs/DirectoryService/DirectoryService.error.log") +
                         removing("/Library/Logs/DirectoryService/DirectoryService.server.log") +
                         progress(10, -1) + removing("/Library/Logs/DirectoryService/") +
                         progress(10, -1) + sizeRecord(kLogs, 7));
    EXPECT_FALSE(root.exists("/Library/Logs/DirectoryService"));

    // Emptying alone keeps the folder.
    root.writeFile("/Library/Logs/DirectoryService/again.log", "x");
    run(kLogs, {"UserDirectoryService"});
    EXPECT_TRUE(root.exists("/Library/Logs/DirectoryService"));
    EXPECT_FALSE(root.exists("/Library/Logs/DirectoryService/again.log"));
}

TEST_F(CleanCachesLogs, TotalIsTheSumOfTheDeletedFilesAtAnyDepth) {
    root.writeFile("/private/tmp/a", std::string(1000, 'a'));
    root.writeFile("/private/tmp/.hidden", std::string(24, 'h'));
    root.writeFile("/private/tmp/deep/er/still/b", std::string(4096, 'b'));
    root.mkdirs("/private/tmp/empty");
    root.writeFile("/var/spool/cups/c00001", std::string(300, 'c'));
    root.writeFile("/var/spool/cups/tmp/job", std::string(77, 'j'));
    root.writeFile("/Library/Caches/com.apple.Spotlight/index", std::string(500, 's'));

    RunResult r = run(kCaches, {"UserSpotlight", "SystemCUPS", "SystemTemporaryItems"});
    EXPECT_EQ(cleaning_test::reportedTotal(r.out), 1000 + 24 + 4096 + 300 + 77 + 500) << r.out;
    EXPECT_EQ(sandbox::snapshotTree(root).count("/private/tmp/a"), 0u);
    EXPECT_TRUE(root.exists("/private/tmp"));
    EXPECT_TRUE(root.exists("/var/spool/cups"));
    EXPECT_FALSE(root.exists("/Library/Caches/com.apple.Spotlight"));
}

// Links planted in world-writable folders are removed as links; what they
// point at, outside the root, survives.
TEST_F(CleanCachesLogs, PlantedLinksAreRemovedWithoutTouchingTheirTargets) {
    host::testing::TempDir outside;
    std::string target = outside.path() + "/precious";
    ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
    std::string file = target + "/data";
    FILE* f = fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("keep me", f);
    fclose(f);
    root.mkdirs("/private/tmp/inner");
    ASSERT_EQ(symlink(target.c_str(), root.real("/private/tmp/evil").c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), root.real("/private/tmp/inner/evil").c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), root.real("/Library/Caches/fontcache").c_str()), 0);
    ASSERT_EQ(symlink(file.c_str(), root.real("/Library/Caches/com.apple.ATS/data").c_str()), 0);

    run(kCaches, {"UserFonts", "SystemTemporaryItems"});
    EXPECT_FALSE(root.exists("/private/tmp/evil"));
    EXPECT_FALSE(root.exists("/private/tmp/inner"));
    EXPECT_FALSE(root.exists("/Library/Caches/fontcache"));
    EXPECT_FALSE(root.exists("/Library/Caches/com.apple.ATS/data"));
    struct stat st {};
    EXPECT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 7);
}

// Debug mode announces and counts every item, runs the font server
// commands, and changes nothing; a real run then removes what was counted.
// Both tables as the operations document them. With a file planted at every
// path and in every folder of every row, each key run alone deletes its own
// row's files, announces them in order, and counts exactly their bytes.
enum class Deletion { Path, Contents, Substring };
struct Action {
    Deletion deletion;
    const char* path;
    const char* substring = nullptr;
};
struct TableRow {
    const char* key;
    std::vector<Action> actions;
};
constexpr Deletion P = Deletion::Path, C = Deletion::Contents, S = Deletion::Substring;

const std::vector<TableRow> kCacheTable = {
    {"UserFonts",
     {{C, "/Library/Caches/com.apple.ATS/"},
      {S, "/Library/Caches/", "com.apple.psnormalizer.fontcache.le"},
      {S, "/Library/Caches/", "fontcache"}}},
    {"UserAudio", {{P, "/Library/Caches/com.apple.Components2.LocalCache.AudioComponents"}}},
    {"UserQuickTime",
     {{P, "/Library/Caches/com.apple.QuickTime.StreamingBandwidth"},
      {P, "/Library/Caches/com.apple.Components2.LocalCache.QuickTimeComponents"}}},
    {"UserSpotlight", {{P, "/Library/Caches/com.apple.Spotlight"}}},
    {"UserColorSync", {{S, "/Library/Caches/", "com.apple.colorsync.profiles"}}},
    {"UserDockIcons", {{S, "/Library/Caches/", "com.apple.dock.iconcache"}}},
    {"SystemBoot",
     {{P, "/System/Library/Caches/com.apple.bootefisignature"},
      {C, "/System/Library/Caches/com.apple.bootstamps/"},
      {S, "/System/Library/Caches/", "com.apple.IntlDataCache"}}},
    {"SystemKernel",
     {{P, "/System/Library/Extension.kextcache"},
      {P, "/System/Library/Caches/com.apple.kernelcaches"},
      {C, "/System/Library/Caches/com.apple.kext.caches/"}}},
    {"SystemFonts",
     {{P, "/System/Library/Caches/com.apple.ATS.System.fcache"},
      {P, "/System/Library/Caches/com.apple.ATSServer.FODB_System"},
      {P, "/System/Library/Caches/fontTablesAnnex"}}},
    {"SystemQuickTime",
     {{P, "/System/Library/Caches/com.apple.Components2.SystemCache.QuickTimeComponents"}}},
    {"SystemCUPS", {{C, "/var/spool/cups/"}, {C, "/var/spool/cups/tmp/"}}},
    {"SystemLookupDaemon", {{C, "/etc/lookupd/"}}},
    {"SystemTemporaryItems", {{C, "/private/tmp/"}}},
};

const std::vector<TableRow> kLogTable = {
    {"UserConsole", {{C, "/Library/Logs/Console/"}}},
    {"UserCrashReporter", {{C, "/Library/Logs/CrashReporter/"}}},
    {"UserHangReporter", {{C, "/Library/Logs/HangReporter/"}}},
    {"UserDiagnosticReports", {{C, "/Library/Logs/DiagnosticReports/"}}},
    {"UserDirectoryService", {{C, "/Library/Logs/DirectoryService/"}}},
    {"UserSoftwareUpdate", {{P, "/Library/Logs/Software Update.log"}}},
    {"UserFileSharing", {{C, "/Library/Logs/AppleFileService/"}}},
    {"UserPanic", {{P, "/Library/Logs/panic.log"}}},
    {"SystemAppleSystem", {{P, "/private/var/log/asl.log"}}},
    {"SystemCrashReporter", {{P, "/private/var/log/crashreporter.log"}}},
    {"SystemLPRIPPrinting", {{P, "/private/var/log/lpr.log"}}},
    {"SystemMail", {{P, "/private/var/log/mail.log"}}},
    {"SystemSystem", {{S, "/private/var/log/", "system.log"}}},
    {"SystemCUPS", {{C, "/private/var/log/cups/"}}},
    {"SystemDirectoryService", {{P, "/Library/Logs/DirectoryService/"}}},
    {"SystemSecurity",
     {{P, "/private/var/log/ipfw.log"}, {S, "/private/var/log/", "secure.log"}}},
    {"SystemFTP", {{P, "/private/var/log/ftp.log"}}},
    {"SystemFSCKHFS", {{P, "/private/var/log/fsck_hfs.log"}}},
    {"SystemDiagnosticMessages", {{C, "/private/var/log/DiagnosticMessages/"}}},
    {"SystemLookupDaemon", {{P, "/private/var/log/lookupd.log"}}},
    {"SystemWebSharing", {{C, "/private/var/log/httpd/"}, {C, "/private/var/log/apache2/"}}},
    {"SystemCronScripts",
     {{P, "/private/var/log/daily.log"},
      {P, "/private/var/log/Weekly.log"},
      {P, "/private/var/log/monthly.log"}}},
    {"SystemWindowServer", {{P, "/private/var/log/windowserver.log"}}},
    {"SystemSombaServer", {{C, "/private/var/log/somba/"}}},
    {"SystemKernel", {{S, "/private/var/log/", "kernel.log"}}},
    {"SystemInstall", {{P, "/private/var/log/install.log"}}},
};

// The file an action's test plants, and the line that announces it.
std::pair<std::string, std::string> plantedBy(const Action& a) {
    const std::string path = a.path;
    switch (a.deletion) {
        case Deletion::Path:
            // A folder path: a file inside it; the folder is what goes.
            return {path.back() == '/' ? path + "planted" : path, path};
        case Deletion::Contents:
            return {path + "planted", path + "planted"};
        case Deletion::Substring:
            return {path + "a" + a.substring + "z", path + "a" + a.substring + "z"};
    }
    return {};
}

TEST_F(CleanCachesLogs, EveryKeyAloneDeletesExactlyItsRowOfTheTable) {
    for (const auto& [identifier, table] :
         {std::pair{kCaches, &kCacheTable}, std::pair{kLogs, &kLogTable}}) {
        std::map<std::string, std::int64_t> sizes;  // every planted file, its own size
        for (const TableRow& row : *table)
            for (const Action& a : row.actions) sizes.emplace(plantedBy(a).first, sizes.size() + 1);
        for (const TableRow& row : *table) {
            SCOPED_TRACE(std::string(identifier) + " " + row.key);
            for (const auto& [path, size] : sizes) root.writeFile(path, std::string(size, 'x'));
            std::string announced;
            std::set<std::string> own;
            for (const Action& a : row.actions) {
                auto [file, line] = plantedBy(a);
                own.insert(file);
                announced += removing(line);
            }
            // Emptying the print queue takes its tmp folder whole.
            if (row.key == std::string("SystemCUPS") && identifier == std::string(kCaches))
                announced = removing("/var/spool/cups/planted") + removing("/var/spool/cups/tmp");
            std::int64_t total = 0;
            for (const std::string& file : own) total += sizes[file];

            RunResult r = run(identifier, {row.key});

            std::string lines;
            std::istringstream out(r.out);
            for (std::string line; std::getline(out, line);)
                if (line.rfind("\tRemoving ", 0) == 0) lines += line + "\n";
            EXPECT_EQ(lines, announced);
            EXPECT_EQ(cleaning_test::reportedTotal(r.out), total);
            for (const auto& [path, size] : sizes)
                EXPECT_EQ(root.exists(path), own.count(path) == 0) << path;
        }
    }
}

TEST(CleanCachesLogsDebug, AnnouncesCountsAndDeletesNothing) {
    SandboxRoot root;
    cleaning_test::buildSystem(root, {"--user", "ann", "--fill", "1M"});
    // A debug run cannot know what an earlier step would have removed, so
    // items two steps take are counted twice there: the printer-font cache
    // matches both font-cache names, the print spool is emptied with its
    // "tmp" folder before that folder is emptied, the directory service logs
    // are emptied before their folder goes. Without them the totals agree.
    removeTree(root.real("/Library/Caches/com.apple.psnormalizer.fontcache.le.501"));
    removeTree(root.real("/private/var/spool/cups/tmp/.cups-temp-1a2b"));
    std::vector<std::string> logKeys = kAllLogKeys;
    std::erase(logKeys, "UserDirectoryService");
    sandbox::TreeSnapshot before = sandbox::snapshotTree(root);

    RunResult caches = runOperation(root, request(kCaches, kAllCacheKeys, true));
    RunResult logs = runOperation(root, request(kLogs, logKeys, true));
    EXPECT_EQ(caches.exitStatus, 0);
    EXPECT_EQ(logs.exitStatus, 0);
    EXPECT_EQ(sandbox::snapshotTree(root), before);
    for (const RunResult* r : {&caches, &logs}) {
        EXPECT_NE(r->out.find("\tDEBUG: Removing /private/"), std::string::npos);
        EXPECT_EQ(r->out.find("\tRemoving "), std::string::npos);
    }
    EXPECT_EQ(sandbox::readJournal(root).size(), 3u);
    // Every group reports once; fonts four times.
    auto count = [](const std::string& s, const std::string& what) {
        size_t n = 0;
        for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count(caches.out, progress(10, -1)), kAllCacheKeys.size() + 3);
    EXPECT_EQ(count(logs.out, progress(10, -1)), logKeys.size());

    std::int64_t debugCaches = cleaning_test::reportedTotal(caches.out);
    std::int64_t debugLogs = cleaning_test::reportedTotal(logs.out);
    EXPECT_GT(debugCaches, 0);
    EXPECT_GT(debugLogs, 0);
    RunResult realCaches = runOperation(root, request(kCaches, kAllCacheKeys));
    RunResult realLogs = runOperation(root, request(kLogs, logKeys));
    EXPECT_EQ(cleaning_test::reportedTotal(realCaches.out), debugCaches);
    EXPECT_EQ(cleaning_test::reportedTotal(realLogs.out), debugLogs);
    EXPECT_FALSE(root.exists("/private/var/log/system.log.2.bz2"));
    EXPECT_FALSE(root.exists("/Library/Caches/com.apple.ATS/System"));
}

}  // namespace
