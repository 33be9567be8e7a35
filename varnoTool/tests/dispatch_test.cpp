// Every identifier of the dispatch table reaches its own operation: run
// through the executor in debug mode on a fresh system, each leaves a trace
// (its output, the tools it ran, a file it wrote) that no other one leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "executor_harness.h"
#include "host/spotlight.h"
#include "sandbox/sandbox.h"

using namespace executor_test;

namespace {

constexpr int kUnknownIdentifier = 7;

struct Row {
    const char* identifier;
    std::vector<std::pair<const char*, plist::Value>> keys;
    const char* trace;  // the whole trace for the one identifier that does nothing
};

// Output, then each tool the run started, then what became of the files a
// row may name. "/Volumes/Data" starts out private.
std::string traceOf(const host::testing::SandboxRoot& root, const host::testing::RunResult& r) {
    std::string trace = r.out;
    for (const sandbox::JournalEntry& e : sandbox::readJournal(root)) {
        trace += "\nran";
        for (const std::string& a : e.argv) trace += " " + a;
    }
    if (root.exists("/Library/Preferences/com.apple.loginwindow.plist"))
        trace += "\nwrote com.apple.loginwindow.plist";
    std::vector<std::string> excluded = host::_MDCopyExclusionList().value_or(
        std::vector<std::string>{});
    trace += std::find(excluded.begin(), excluded.end(), "/Volumes/Data") == excluded.end()
                 ? "\nincluded"
                 : "\nexcluded";
    return trace;
}

TEST(Dispatch, EveryIdentifierReachesItsOwnOperation) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "the executor runs as root";
    const plist::Value data("/Volumes/Data");
    const plist::Value device("/dev/disk1s2");
    plist::Dictionary loginWindow;
    loginWindow["GuestEnabled"] = plist::Value::boolean(false);
    const Row rows[] = {
        {"KVXAESetuidrootAuthExec", {}, "\nexcluded"},
        {"KVXAEQuerySpotlightInfoAuthExec", {}, "<string>KVXAEQuerySpotlightInfoAuthExec<"},
        {"KVXAESetVolumeJournalStatusAuthExec", {{"MountPoint", data}},
         "ran diskUtil disableJournal /Volumes/Data"},
        {"KVXAESetVolumeOwnershipStatusAuthExec", {{"MountPoint", data}},
         "ran vsdbutil -d /Volumes/Data"},
        {"KVXAEVerifyRepairVolumeStructureAuthExec",
         {{"MountPoint", data}, {"KVXAEDeviceNodeFilesystemConfigurationKey", device}},
         "** Checking catalog file."},
        {"KVXAEUnmountVolumeAuthExec", {{"KVXAEDeviceNodeFilesystemConfigurationKey", device}},
         "ran diskUtil unmount /dev/disk1s2"},
        {"KVXAEMountVolumeAuthExec", {{"KVXAEDeviceNodeFilesystemConfigurationKey", device}},
         "ran diskUtil mount /dev/disk1s2"},
        {"KVXAEVerifyRepairFilePermissionsAuthExec", {{"MountPoint", data}},
         "ran diskutil repairPermissions -plist /Volumes/Data"},
        {"KVXAERebuildSpotlightVolumeIndexAuthExec", {{"MountPoint", data}},
         "ran mdutil -i on -E /Volumes/Data\nincluded"},
        {"KVXAEDisableSpotlightVolumeIndexingAuthExec", {{"MountPoint", data}},
         "ran mdutil -i off -E /Volumes/Data\nincluded"},
        {"KVXAEPrivatizeSpotlightVolumeAuthExec", {{"MountPoint", data}},
         "ran mdutil -i on -E /Volumes/Data\nexcluded"},
        {"KVXAERebuildLaunchServicesDatabaseAuthExec", {}, "ran lsregister "},
        {"KVXAERebuildDyldSharedCacheAuthExec", {}, "ran update_dyld_shared_cache "},
        {"KVXAESetNetworkParametersAuthExec", {}, "setNetworkParameters\n"},
        {"KVXAEDisablePreferenceFilesAuthExec", {}, "ResultsDisablePreferenceFiles"},
        {"KVXAERestorePreferenceFilesAuthExec", {}, "ResultsRestorePreferenceFiles"},
        {"KVXAEUserSystemCleanCachesAuthExec", {}, "<string>KVXAEUserSystemCleanCachesAuthExec<"},
        {"KVXAEUserSystemCleanLogsAuthExec", {}, "<string>KVXAEUserSystemCleanLogsAuthExec<"},
        {"KVXAESetSystemStartupModeAuthExec",
         {{"KVXAEModeArgumentSetSystemStartupModeAuthExecConfigurationKey", plist::Value("-v")}},
         "boot-args=-v"},
        {"KVXAEForceSecureEmptyTrashAuthExec", {}, "Removing contents of /var/root/.Trash"},
        {"KVXAESetFileVisibilityAuthExec",
         {{"KVXAEFilesShowHideFilesExecutorConfigurationKey",
           plist::Value(plist::Array{plist::Value("/private/tmp/x")})}},
         "SetFile -a V /private/tmp/x"},
        {"KVXAESetPowerManagementSettingsAuthExec", {}, "invalid power source"},
        {"KVXAECleanLocalizationsAuthExec", {}, "<string>KVXAECleanLocalizationsAuthExec<"},
        {"KVXAECleanBinariesAuthExec", {}, "<string>KVXAECleanBinariesAuthExec<"},
        {"KVXAERebuildLocateDatabaseAuthExec", {}, "locate.updatedb"},
        {"KVXAERebuildWhatisDatabaseAuthExec", {}, "ran makewhatis "},
        {"KVXAEQueryProcessesAuthExec", {}, "<string>KVXAEQueryProcessesAuthExec<"},
        {"KVXAESetSwapVolumeAuthExec", {}, "names no swap volume"},
        {"KVXAESetLoginWindowPlistAuthExec",
         {{"KVXAEPlistSetLoginWindowPlistExecutorConfigurationKey", plist::Value(loginWindow)}},
         "wrote com.apple.loginwindow.plist"},
    };
    ASSERT_EQ(std::size(rows), operationIdentifiers().size());
    std::vector<std::string> traces;
    for (const Row& row : rows) {
        host::testing::SandboxRoot root;
        sandbox::build(root);
        ASSERT_EQ(host::_MDSetExclusion("/Volumes/Data", true), 0);
        plist::Dictionary r = request(row.identifier, true);
        for (const auto& [key, value] : row.keys) r[key] = value;
        host::testing::RunResult result = runExecutor(frame(rootAuthorizationForm(), r));
        EXPECT_FALSE(result.timedOut) << row.identifier;
        EXPECT_NE(result.exitStatus, kUnknownIdentifier) << row.identifier;
        traces.push_back(traceOf(root, result));
    }
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].identifier);
        const std::string trace = rows[i].trace;
        if (i == 0) {
            EXPECT_EQ(traces[i], trace);
            continue;
        }
        EXPECT_NE(traces[i].find(trace), std::string::npos) << traces[i];
        // The trace is this operation's own: no other identifier leaves it.
        for (std::size_t j = 0; j < std::size(rows); ++j) {
            if (j != i) {
                EXPECT_EQ(traces[j].find(trace), std::string::npos) << rows[j].identifier;
            }
        }
    }
    // The control: one letter off is no identifier.
    host::testing::SandboxRoot root;
    const std::string form = rootAuthorizationForm();
    EXPECT_EQ(runExecutor(frame(form, request("KVXAEQueryProcessesAuthExeC", true))).exitStatus,
              kUnknownIdentifier);
}

}  // namespace
