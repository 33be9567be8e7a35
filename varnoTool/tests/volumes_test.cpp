// Volume operations, run through the executor program on sandbox roots: the
// tools' argument vectors, and what reaches the caller.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "executor_harness.h"
#include "host/testing.h"
#include "sandbox/sandbox.h"

namespace {

using host::testing::RunResult;
using host::testing::SandboxRoot;
using sandbox::JournalEntry;

constexpr const char* kMount = "KVXAEMountVolumeAuthExec";
constexpr const char* kUnmount = "KVXAEUnmountVolumeAuthExec";
constexpr const char* kPermissions = "KVXAEVerifyRepairFilePermissionsAuthExec";
constexpr const char* kStructure = "KVXAEVerifyRepairVolumeStructureAuthExec";
constexpr const char* kJournal = "KVXAESetVolumeJournalStatusAuthExec";
constexpr const char* kOwnership = "KVXAESetVolumeOwnershipStatusAuthExec";
constexpr const char* kDeviceKey = "KVXAEDeviceNodeFilesystemConfigurationKey";
constexpr const char* kJournalingKey =
    "KVXAEEnableJournalingSetVolumeJournalStatusExecutorConfigurationKey";
constexpr const char* kOwnershipKey =
    "KVXAEEnableOwnershipSetVolumeOwnershipStatusExecutorConfigurationKey";

struct Volume {
    const char* mountPoint = nullptr;
    const char* device = nullptr;
};

class Volumes : public ::testing::Test {
  protected:
    void SetUp() override { sandbox::build(root); }

    RunResult run(const char* identifier, Volume volume, const char* flagKey = nullptr,
                  bool flag = false) {
        EXPECT_EQ(truncate(root.real(sandbox::kJournalPath).c_str(), 0), 0);
        plist::Dictionary d = executor_test::request(identifier);
        if (volume.mountPoint) d["MountPoint"] = plist::Value(volume.mountPoint);
        if (volume.device) d[kDeviceKey] = plist::Value(volume.device);
        if (flagKey) d[flagKey] = plist::Value::boolean(flag);
        return executor_test::runExecutor(
            executor_test::frame(executor_test::rootAuthorizationForm(), d));
    }

    std::vector<JournalEntry> journal() { return sandbox::readJournal(root); }

    SandboxRoot root;
};

TEST_F(Volumes, MountUnmountAndPermissionsHandTheRunToTheDiskUtility) {
    RunResult r = run(kMount, {"/Volumes/Data", "disk0s2"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "Volume on disk0s2 mounted\n");
    EXPECT_EQ(journal(), (std::vector<JournalEntry>{{0, {"diskUtil", "mount", "disk0s2"}}}));

    r = run(kUnmount, {nullptr, "disk1s3"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "Volume on disk1s3 unmounted\n");
    EXPECT_EQ(journal(), (std::vector<JournalEntry>{{0, {"diskUtil", "unmount", "disk1s3"}}}));

    r = run(kPermissions, {"/", "disk0s2"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Started verify/repair permissions", 0), 0u) << r.out;
    EXPECT_EQ(journal(),
              (std::vector<JournalEntry>{{0, {"diskutil", "repairPermissions", "-plist", "/"}}}));
}

TEST_F(Volumes, OnlyTheStartupVolumeIsCheckedWithoutRepair) {
    struct Case {
        const char* mountPoint;
        std::vector<std::string> argv;
    };
    const Case cases[] = {
        {"/", {"fsck_hfs", "-fn", "-l", "-g", "/dev/disk0s2"}},
        {"/Volumes/X", {"fsck_hfs", "-fy", "-f", "-g", "/dev/disk0s2"}},
        {"/Volumes/X/", {"fsck_hfs", "-fy", "-f", "-g", "/dev/disk0s2"}},
        {"//", {"fsck_hfs", "-fy", "-f", "-g", "/dev/disk0s2"}},
    };
    for (const Case& c : cases) {
        RunResult r = run(kStructure, {c.mountPoint, "disk0s2"});
        EXPECT_EQ(r.exitStatus, 0) << c.mountPoint << r.err;
        EXPECT_EQ(r.out.rfind("** /dev/disk0s2\n", 0), 0u) << r.out;
        EXPECT_EQ(journal(), (std::vector<JournalEntry>{{0, c.argv}})) << c.mountPoint;
    }
}

TEST_F(Volumes, ReplacingOperationsEndWithTheToolsStatus) {
    root.writeFile("/usr/libexec/varno-sandbox/fsck_hfs",
                   "#!/bin/sh\necho '** The volume could not be verified completely.'\nexit 8\n",
                   0755);
    RunResult r = run(kStructure, {"/Volumes/X", "disk2s2"});
    EXPECT_EQ(r.exitStatus, 8);
    EXPECT_EQ(r.out, "** The volume could not be verified completely.\n");

    ASSERT_EQ(unlink(root.real("/usr/sbin/diskutil").c_str()), 0);
    for (const char* identifier : {kMount, kUnmount, kPermissions}) {
        r = run(identifier, {"/", "disk0s2"});
        EXPECT_EQ(r.exitStatus, 255) << identifier;
        EXPECT_EQ(r.out, "") << identifier;
    }
}

TEST_F(Volumes, JournalingStartsTheDiskUtilityAndSucceedsAtOnce) {
    RunResult r = run(kJournal, {"/", nullptr}, kJournalingKey, true);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "Journaling has been enabled for volume on /\n");
    EXPECT_EQ(journal(), (std::vector<JournalEntry>{{0, {"diskUtil", "enableJournal", "/"}}}));

    // No flag turns journaling off.
    r = run(kJournal, {"/", nullptr});
    EXPECT_EQ(r.out, "Journaling has been disabled for volume on /\n");
    EXPECT_EQ(journal(), (std::vector<JournalEntry>{{0, {"diskUtil", "disableJournal", "/"}}}));

    // The tool's failure reaches the caller only through the shared output.
    r = run(kJournal, {"/Volumes/Gone", nullptr}, kJournalingKey, true);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "Could not find disk: /Volumes/Gone\n");
}

TEST_F(Volumes, OwnershipAnnouncesItselfBeforeTheToolSpeaks) {
    // A vsdbutil that refuses a volume that is not there.
    root.writeFile("/usr/libexec/varno-sandbox/vsdbutil",
                   "#!/bin/sh\n"
                   "if [ ! -d \"$VARNO_SANDBOX_ROOT$2\" ]; then\n"
                   "    echo \"vsdbutil: $2: No such file or directory\"\n"
                   "    exit 1\n"
                   "fi\n"
                   "echo \"vsdbutil: $1 $2\"\n",
                   0755);
    RunResult r = run(kOwnership, {"/Volumes/Gone", nullptr}, kOwnershipKey, true);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out,
              "setVolumeOwnershipStatus\nenableDisableStr: -a\n"
              "vsdbutil: /Volumes/Gone: No such file or directory\n");
    EXPECT_EQ(r.err, "/Volumes/Gone\n");
    EXPECT_EQ(journal(), (std::vector<JournalEntry>{{0, {"vsdbutil", "-a", "/Volumes/Gone"}}}));

    r = run(kOwnership, {"/", nullptr}, kOwnershipKey, false);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "setVolumeOwnershipStatus\nenableDisableStr: -d\nvsdbutil: -d /\n");
    EXPECT_EQ(r.err, "/\n");
}

TEST_F(Volumes, ARequestWithoutItsVolumeRunsNoTool) {
    struct Case {
        const char* identifier;
        Volume volume;
        const char* missing;
    };
    const Case cases[] = {
        {kMount, {"/", nullptr}, kDeviceKey},
        {kUnmount, {"/", nullptr}, kDeviceKey},
        {kPermissions, {nullptr, "disk0s2"}, "MountPoint"},
        {kStructure, {nullptr, "disk0s2"}, "MountPoint"},
        {kStructure, {"/", nullptr}, kDeviceKey},
        {kJournal, {nullptr, "disk0s2"}, "MountPoint"},
        {kOwnership, {nullptr, "disk0s2"}, "MountPoint"},
    };
    for (const Case& c : cases) {
        RunResult r = run(c.identifier, c.volume);
        EXPECT_EQ(r.exitStatus, 255) << c.identifier;
        EXPECT_EQ(r.out, std::string("\t*** Error: the request has no ") + c.missing + ".\n")
            << c.identifier;
        EXPECT_TRUE(journal().empty()) << c.identifier;
    }
}

}  // namespace
