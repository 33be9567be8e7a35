// Spotlight operations: the query's record, mdutil's argument vectors and
// user, and when each operation changes the exclusion list.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "Protocol.h"
#include "executor_harness.h"
#include "host/spotlight.h"
#include "operations/Spotlight.h"
#include "sandbox/sandbox.h"

namespace {

using executor_test::frame;
using executor_test::request;
using executor_test::rootAuthorizationForm;
using executor_test::runExecutor;
using host::testing::RunResult;
using host::testing::SandboxRoot;
using Paths = std::vector<std::string>;

constexpr const char* kQuery = "KVXAEQuerySpotlightInfoAuthExec";
constexpr const char* kDisable = "KVXAEDisableSpotlightVolumeIndexingAuthExec";
constexpr const char* kRebuild = "KVXAERebuildSpotlightVolumeIndexAuthExec";
constexpr const char* kPrivatize = "KVXAEPrivatizeSpotlightVolumeAuthExec";

Paths exclusions() {
    return host::_MDCopyExclusionList().value_or(Paths{});
}

void setExclusions(const Paths& paths) {
    for (const std::string& path : exclusions()) host::_MDSetExclusion(path, false);
    for (const std::string& path : paths) host::_MDSetExclusion(path, true);
}

std::string mdutilStatus(const std::string& volume) {
    return volume + ":\n\tIndexing enabled.\n";
}

class SpotlightOperations : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "the executor tests run as root";
    }

    void build(const std::string& version = "") {
        sandbox::BuildOptions options;
        options.systemVersion = version;
        sandbox::build(root, options);
    }

    RunResult run(const plist::Dictionary& r) {
        return runExecutor(frame(rootAuthorizationForm(), r));
    }

    SandboxRoot root;
};

TEST_F(SpotlightOperations, QueryReportsStatusSizeAndThePrivateMarkPerVolume) {
    build();
    setExclusions({"/", "/Volumes/Data/", "/Volumes/NoIndex", "/Volumes/Sibling"});
    root.writeFile("/.Spotlight-V100/Store-V1/index", std::string(1000, 'i'));
    root.writeFile("/Volumes/Data/.Spotlight-V100/Store-V1/a", std::string(300, 'a'));
    root.writeFile("/Volumes/Data/.Spotlight-V100/b", std::string(20, 'b'));
    root.mkdirs("/Volumes/NoIndex");
    // A folder beside the volume named like its index is not its index.
    root.writeFile("/Volumes/Sibling.Spotlight-V100/x", "x");
    root.mkdirs("/Volumes/Sibling");
    const std::int64_t configurationSize =
        static_cast<std::int64_t>(root.readFile(host::kSpotlightVolumeConfiguration)->size());

    plist::Dictionary r = request(kQuery);
    r["KVXAEMountPointsQuerySpotlightInfoExecutorConfigurationKey"] = plist::Value(plist::Array{
        plist::Value("/"), plist::Value("/Volumes/Data"), plist::Value("/Volumes/Data/"),
        plist::Value("/Volumes/NoIndex"), plist::Value("/Volumes/Sibling")});
    RunResult result = run(r);
    EXPECT_EQ(result.exitStatus, 0) << result.err;

    auto volume = [](const std::string& mountPoint, std::optional<std::int64_t> size,
                     bool excluded) {
        plist::Dictionary d;
        d["KVXAEMountPointQuerySpotlightInfoExecutorDidEndInfoKey"] = plist::Value(mountPoint);
        d["KVXAEIndexingStatusQuerySpotlightInfoExecutorDidEndInfoKey"] =
            plist::Value(mdutilStatus(mountPoint));
        if (size)
            d["KVXAEIndexSizeQuerySpotlightInfoExecutorDidEndInfoKey"] =
                plist::Value::integer(*size);
        if (excluded)
            d["KVXAESelfExculdedQuerySpotlightInfoExecutorDidEndInfoKey"] =
                plist::Value::boolean(true);
        return plist::Value(d);
    };
    plist::Dictionary expected;
    expected["KVXAEDictionaryIdentifierAuthExecOutputIdentifier"] = plist::Value(kQuery);
    expected["KVXAEVolumesQuerySpotlightAuthExecDictionaryOutputKey"] = plist::Value(
        plist::Array{volume("/", 1000 + configurationSize, true),
                     // Listed only with a trailing "/": not private.
                     volume("/Volumes/Data", 320, false), volume("/Volumes/Data/", 320, true),
                     // Listed, but without an index: neither size nor mark.
                     volume("/Volumes/NoIndex", std::nullopt, false),
                     volume("/Volumes/Sibling", std::nullopt, false)});
    EXPECT_EQ(result.out, plist::writeXML(plist::Value(expected)));

    std::vector<sandbox::JournalEntry> journal = sandbox::readJournal(root);
    ASSERT_EQ(journal.size(), 5u);
    EXPECT_EQ(journal[1], (sandbox::JournalEntry{0, {"mdutil", "-s", "/Volumes/Data"}}));
}

// Each volume operation starts mdutil as the superuser; indexing off and
// rebuilding take the volume off the exclusion list, privatizing puts it on.
TEST_F(SpotlightOperations, VolumeOperationsRunMdutilAndChangeTheList) {
    struct Case {
        const char* identifier;
        const char* indexing;
        bool excludedAfter;
    } cases[] = {
        {kDisable, "off", false},
        {kRebuild, "on", false},
        {kPrivatize, "on", true},
    };
    build();
    const std::string volume = "/Volumes/Data";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.identifier);
        root.writeFile(sandbox::kJournalPath, "", 0666);
        setExclusions(c.excludedAfter ? Paths{"/Volumes/Other"} : Paths{volume, "/Volumes/Other"});
        plist::Dictionary r = request(c.identifier);
        r["MountPoint"] = plist::Value(volume);
        RunResult result = run(r);
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        // mdutil's own output reaches the caller on the shared output.
        EXPECT_EQ(result.out, volume + ":\n\tIndexing " +
                                  (std::string(c.indexing) == "off" ? "disabled" : "enabled") +
                                  ".\n");
        std::vector<sandbox::JournalEntry> expected = {
            {0, {"mdutil", "-i", c.indexing, "-E", volume}}};
        EXPECT_EQ(sandbox::readJournal(root), expected);
        EXPECT_EQ(exclusions(),
                  c.excludedAfter ? (Paths{"/Volumes/Other", volume}) : Paths{"/Volumes/Other"});
    }
}

TEST_F(SpotlightOperations, WithoutAMountPointNothingIsDone) {
    build();
    setExclusions({"/"});
    for (const char* id : {kDisable, kRebuild, kPrivatize}) {
        SCOPED_TRACE(id);
        RunResult result = run(request(id));
        EXPECT_EQ(result.exitStatus, 255);
        EXPECT_EQ(result.out, "\t*** Error: no mount point.\n");
    }
    EXPECT_TRUE(sandbox::readJournal(root).empty());
    EXPECT_EQ(exclusions(), Paths{"/"});
}

// When the list changes relative to mdutil's start depends on the system
// version. The child is replaced by a stand-in that notes the list at the
// moment mdutil would start.
std::optional<Paths> listAtStart;

pid_t recordingFork() {
    listAtStart = exclusions();
    return 999999;  // the parent's side; no process is made
}

pid_t failingFork() {
    return -1;
}

class SpotlightOrder : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "privatizing becomes the superuser";
        saved_ = spotlight_seams::forkProcess;
        spotlight_seams::forkProcess = recordingFork;
    }
    void TearDown() override { spotlight_seams::forkProcess = saved_; }

    void useVersion(const std::string& version) {
        plist::Dictionary d;
        d["ProductVersion"] = plist::Value(version);
        root.writeFile("/System/Library/CoreServices/SystemVersion.plist",
                       plist::writeXML(plist::Value(d)));
    }

    SandboxRoot root;
    pid_t (*saved_)() = nullptr;
};

TEST_F(SpotlightOrder, TheListChangesBeforeOrAfterMdutilStartsByVersion) {
    const std::string volume = "/Volumes/Data";
    struct Case {
        int (*operation)(const plist::Dictionary&);
        const char* name;
        const char* version;
        bool changedBeforeStart;
        bool excludedAfter;
    } cases[] = {
        {disableSpotlightVolumeIndexing, "off", "10.4.11", true, false},
        {disableSpotlightVolumeIndexing, "off", "10.5.8", false, false},
        {disableSpotlightVolumeIndexing, "off", "10.6.8", false, false},
        {rebuildSpotlightVolumeIndex, "rebuild", "10.4.11", false, false},
        {rebuildSpotlightVolumeIndex, "rebuild", "10.5", true, false},
        {rebuildSpotlightVolumeIndex, "rebuild", "10.6.8", false, false},
        {privatizeSpotlightVolume, "private", "10.4.11", true, true},
        {privatizeSpotlightVolume, "private", "10.6.8", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " on " + c.version);
        useVersion(c.version);
        const Paths before = c.excludedAfter ? Paths{} : Paths{volume};
        const Paths after = c.excludedAfter ? Paths{volume} : Paths{};
        setExclusions(before);
        listAtStart.reset();
        plist::Dictionary parameters;
        parameters["MountPoint"] = plist::Value(volume);
        std::string out =
            executor_test::captureStdout([&] { EXPECT_EQ(c.operation(parameters), 0); });
        EXPECT_EQ(out, "");
        ASSERT_TRUE(listAtStart);
        EXPECT_EQ(*listAtStart, c.changedBeforeStart ? after : before);
        EXPECT_EQ(exclusions(), after);
    }
}

TEST_F(SpotlightOrder, NoChildEndsTheExecutorWith17Or1) {
    spotlight_seams::forkProcess = failingFork;
    useVersion("10.6.8");
    plist::Dictionary parameters;
    parameters["MountPoint"] = plist::Value("/Volumes/Data");
    // The message goes to standard output; the death test reads standard error.
    auto run = [&](int (*operation)(const plist::Dictionary&)) {
        dup2(2, 1);
        operation(parameters);
    };
    const char* message = "\t\\*\\*\\* Error in fork\\(\\)\n";
    EXPECT_EXIT(run(disableSpotlightVolumeIndexing), ::testing::ExitedWithCode(17), message);
    EXPECT_EXIT(run(rebuildSpotlightVolumeIndex), ::testing::ExitedWithCode(17), message);
    EXPECT_EXIT(run(privatizeSpotlightVolume), ::testing::ExitedWithCode(1), message);
}

}  // namespace
