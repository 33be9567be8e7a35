// Login window preferences, power-management profiles, the startup mode and
// file visibility, run through the executor program on sandbox roots.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "executor_harness.h"
#include "sandbox/sandbox.h"
#include "setfile_support.h"

namespace {

using executor_test::frame;
using executor_test::request;
using executor_test::rootAuthorizationForm;
using host::testing::RunResult;
using host::testing::SandboxRoot;

constexpr const char* kLoginWindow = "KVXAESetLoginWindowPlistAuthExec";
constexpr const char* kPower = "KVXAESetPowerManagementSettingsAuthExec";
constexpr const char* kStartupMode = "KVXAESetSystemStartupModeAuthExec";
constexpr const char* kVisibility = "KVXAESetFileVisibilityAuthExec";

constexpr const char* kLoginWindowPath = "/Library/Preferences/com.apple.loginwindow.plist";
constexpr const char* kPowerPath =
    "/Library/Preferences/SystemConfiguration/com.apple.PowerManagement.plist";
constexpr const char* kSourceKey = "KVXAESourceSetPowerManagementSettingsExecutorConfigurationKey";
constexpr const char* kProfileKey =
    "KVXAEProfileSetPowerManagementSettingsExecutorConfigurationKey";

plist::Dictionary timers(std::int64_t minutes) {
    plist::Dictionary d;
    d["System Sleep Timer"] = plist::Value::integer(minutes);
    d["Disk Sleep Timer"] = plist::Value::integer(minutes / 2);
    return d;
}

class SystemSettings : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "the executor tests run as root";
    }

    void build(bool installSuite = false) {
        sandbox::BuildOptions options;
        options.installSuite = installSuite;
        sandbox::build(root, options);
    }

    // The executor of the build tree, or the one installed in the root.
    RunResult run(const plist::Dictionary& r, bool installed = false) {
        host::testing::RunOptions o;
        o.argv = {installed ? root.real(sandbox::kInstalledExecutor)
                            : executor_test::executorPath()};
        o.input = frame(rootAuthorizationForm(), r);
        return host::testing::run(o);
    }

    std::optional<plist::Value> readPlist(const std::string& machinePath) {
        std::optional<std::string> bytes = root.readFile(machinePath);
        return bytes ? plist::parse(*bytes) : std::nullopt;
    }

    void clearJournal() { root.writeFile(sandbox::kJournalPath, "", 0666); }

    SandboxRoot root;
};

TEST_F(SystemSettings, LoginWindowPreferencesAreReplacedWhole) {
    build();
    plist::Dictionary old;
    old["GuestEnabled"] = plist::Value::boolean(true);
    root.writeFile(kLoginWindowPath, plist::writeXML(plist::Value(old)));

    plist::Dictionary preferences;
    preferences["SHOWFULLNAME"] = plist::Value::boolean(true);
    preferences["LoginwindowText"] = plist::Value("Property of the lab");
    plist::Dictionary r = request(kLoginWindow);
    r["KVXAEPlistSetLoginWindowPlistExecutorConfigurationKey"] = plist::Value(preferences);
    RunResult result = run(r);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(root.readFile(kLoginWindowPath), plist::writeXML(plist::Value(preferences)));

    // Without a dictionary nothing is written, and that counts as success.
    result = run(request(kLoginWindow));
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(root.readFile(kLoginWindowPath), plist::writeXML(plist::Value(preferences)));

    // A file that cannot be written ends with 20.
    ASSERT_EQ(unlink(root.real(kLoginWindowPath).c_str()), 0);
    root.mkdirs(kLoginWindowPath);
    result = run(r);
    EXPECT_EQ(result.exitStatus, 20);
    EXPECT_EQ(result.out, "\t*** Error opening write stream in writeDictionaryToPath.\n");
}

TEST_F(SystemSettings, AProfileReplacesOnlyItsSourcesEntryAndIsAppliedWithPmset) {
    build();
    struct Case {
        plist::Value source;
        const char* name;
        const char* flag;
    } cases[] = {{plist::Value::integer(0), "AC Power", "-c"},
                 {plist::Value::integer(1), "Battery Power", "-b"},
                 {plist::Value::integer(2), "UPS Power", "-u"},
                 // A caller that stores numbers as reals.
                 {plist::Value::real(1.0), "Battery Power", "-b"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearJournal();
        plist::Dictionary custom;
        for (const Case& other : cases) custom[other.name] = plist::Value(timers(10));
        plist::Dictionary settings;
        settings["Custom Profile"] = plist::Value(custom);
        settings["SystemPowerSettings"] = plist::Value(timers(99));
        root.writeFile(kPowerPath, plist::writeXML(plist::Value(settings)));

        plist::Dictionary r = request(kPower);
        r[kSourceKey] = c.source;
        r[kProfileKey] = plist::Value(timers(30));
        RunResult result = run(r);
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(result.out, "");

        (*settings["Custom Profile"].asDictionary())[c.name] = plist::Value(timers(30));
        EXPECT_EQ(readPlist(kPowerPath), plist::Value(settings));
        std::vector<sandbox::JournalEntry> expected = {{0, {"pmset", c.flag, "-1"}}};
        EXPECT_EQ(sandbox::readJournal(root), expected);
    }
}

TEST_F(SystemSettings, AMissingPowerManagementFileStartsEmpty) {
    build();
    plist::Dictionary r = request(kPower);
    r[kSourceKey] = plist::Value::integer(1);
    r[kProfileKey] = plist::Value(timers(5));
    RunResult result = run(r);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "\t***Error openning read stream in dictionaryAtPath.\n");
    plist::Dictionary custom;
    custom["Battery Power"] = plist::Value(timers(5));
    plist::Dictionary expected;
    expected["Custom Profile"] = plist::Value(custom);
    EXPECT_EQ(readPlist(kPowerPath), plist::Value(expected));
}

TEST_F(SystemSettings, AnInvalidSourceOrProfileChangesNothing) {
    build();
    root.writeFile(kPowerPath, plist::writeXML(plist::Value(timers(1))));
    sandbox::TreeSnapshot before = sandbox::snapshotTree(root);
    struct Case {
        const char* name;
        std::optional<plist::Value> source;
        std::optional<plist::Value> profile;
        const char* message;
    } cases[] = {
        {"source 3", plist::Value::integer(3), plist::Value(timers(2)),
         "\t*** Error: invalid power source.\n"},
        {"no source", std::nullopt, plist::Value(timers(2)),
         "\t*** Error: invalid power source.\n"},
        {"source 0.5", plist::Value::real(0.5), plist::Value(timers(2)),
         "\t*** Error: invalid power source.\n"},
        {"source 2^32", plist::Value::integer(4294967296), plist::Value(timers(2)),
         "\t*** Error: invalid power source.\n"},
        {"no profile", plist::Value::integer(0), std::nullopt,
         "\t*** Error: invalid power management profile.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        plist::Dictionary r = request(kPower);
        if (c.source) r[kSourceKey] = *c.source;
        if (c.profile) r[kProfileKey] = *c.profile;
        RunResult result = run(r);
        EXPECT_EQ(result.exitStatus, 255);
        EXPECT_EQ(result.out, c.message);
    }
    EXPECT_EQ(sandbox::snapshotTree(root), before);
    EXPECT_TRUE(sandbox::readJournal(root).empty());
}

TEST_F(SystemSettings, StartupModeHandsTheExecutorOverToNvram) {
    build();
    for (const std::string mode : {"", "-v arch=i386"}) {
        SCOPED_TRACE(mode);
        clearJournal();
        plist::Dictionary r = request(kStartupMode);
        r["KVXAEModeArgumentSetSystemStartupModeAuthExecConfigurationKey"] = plist::Value(mode);
        RunResult result = run(r);
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(result.out, "\tboot-args=" + mode + "\n");
        std::vector<sandbox::JournalEntry> expected = {{0, {"nvram", "boot-args=" + mode}}};
        EXPECT_EQ(sandbox::readJournal(root), expected);
    }

    // nvram's status is the executor's.
    plist::Dictionary r = request(kStartupMode);
    r["KVXAEModeArgumentSetSystemStartupModeAuthExecConfigurationKey"] = plist::Value("-s");
    root.writeFile("/usr/libexec/varno-sandbox/nvram", "exit 3\n", 0755);
    EXPECT_EQ(run(r).exitStatus, 3);
    // Without nvram the operation returns -1.
    ASSERT_EQ(unlink(root.real("/usr/sbin/nvram").c_str()), 0);
    RunResult result = run(r);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out, "\tboot-args=-s\n");

    // Without a value nothing is set.
    clearJournal();
    result = run(request(kStartupMode));
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out, "\t*** Error: no startup mode.\n");
}

TEST_F(SystemSettings, VisibilityRunsTheBundlesSetFileOncePerFile) {
    build(true);
    if (!setfile_test::userAttributesSupported(root.path()))
        GTEST_SKIP() << "the file system of " << root.path()
                     << " keeps no user extended attributes";
    const std::string a = root.writeFile("/Users/Shared/a file", "a");
    const std::string b = root.writeFile("/Users/Shared/b", "b");
    plist::Array files = {plist::Value("/Users/Shared/a file"),
                          plist::Value("/Users/Shared/missing"), plist::Value("/Users/Shared/b")};

    plist::Dictionary hide = request(kVisibility);
    hide["KVXAEFilesShowHideFilesExecutorConfigurationKey"] = plist::Value(files);
    RunResult result = run(hide, true);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out,
              "\tSetFile -a V /Users/Shared/a file\n"
              "\tSetFile -a V /Users/Shared/missing\n"
              "\tSetFile -a V /Users/Shared/b\n");
    EXPECT_EQ(result.err, "SetFile: file not found: /Users/Shared/missing\n");
    EXPECT_EQ(setfile_test::finderInfo(a), setfile_test::finderInfoWith(0x4000));
    EXPECT_EQ(setfile_test::finderInfo(b), setfile_test::finderInfoWith(0x4000));

    plist::Dictionary show = hide;
    show["KVXAEVisibleShowHideFilesExecutorConfigurationKey"] = plist::Value::boolean(true);
    result = run(show, true);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out,
              "\tSetFile -a v /Users/Shared/a file\n"
              "\tSetFile -a v /Users/Shared/missing\n"
              "\tSetFile -a v /Users/Shared/b\n");
    EXPECT_EQ(setfile_test::finderInfo(a), std::nullopt);
    EXPECT_EQ(setfile_test::finderInfo(b), std::nullopt);

    // No files: nothing to print or run.
    result = run(request(kVisibility), true);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "");
}

}  // namespace
