#include "Dispatch.h"

#include <iterator>

#include "Protocol.h"
// Operation families (one header each in operations/).
#include "operations/CleanBinaries.h"
#include "operations/CleanCachesLogs.h"
#include "operations/CleanLocalizations.h"
#include "operations/DatabaseRebuilds.h"
#include "operations/Network.h"
#include "operations/PreferenceFiles.h"
#include "operations/Processes.h"
#include "operations/Spotlight.h"
#include "operations/Swap.h"
#include "operations/SystemSettings.h"
#include "operations/Volumes.h"

namespace {

struct Entry {
    const char* identifier;
    OperationFunction operation;  // nullptr: nothing to do beyond what every request does
};

// Compared in this order; the first equal entry wins.
const Entry kOperations[] = {
    {"KVXAESetuidrootAuthExec", nullptr},
    {"KVXAEQuerySpotlightInfoAuthExec", querySpotlightInfo},
    {"KVXAESetVolumeJournalStatusAuthExec", setVolumeJournalStatus},
    {"KVXAESetVolumeOwnershipStatusAuthExec", setVolumeOwnershipStatus},
    {"KVXAEVerifyRepairVolumeStructureAuthExec", verifyRepairVolumeStructure},
    {"KVXAEUnmountVolumeAuthExec", unmountVolume},
    {"KVXAEMountVolumeAuthExec", mountVolume},
    {"KVXAEVerifyRepairFilePermissionsAuthExec", verifyRepairFilePermissions},
    {"KVXAERebuildSpotlightVolumeIndexAuthExec", rebuildSpotlightVolumeIndex},
    {"KVXAEDisableSpotlightVolumeIndexingAuthExec", disableSpotlightVolumeIndexing},
    {"KVXAEPrivatizeSpotlightVolumeAuthExec", privatizeSpotlightVolume},
    {"KVXAERebuildLaunchServicesDatabaseAuthExec", rebuildLaunchServicesDatabase},
    {"KVXAERebuildDyldSharedCacheAuthExec", rebuildDyldSharedCache},
    {"KVXAESetNetworkParametersAuthExec", setNetworkParameters},
    {"KVXAEDisablePreferenceFilesAuthExec", disablePreferenceFiles},
    {"KVXAERestorePreferenceFilesAuthExec", restorePreferenceFiles},
    {"KVXAEUserSystemCleanCachesAuthExec", userSystemCleanCaches},
    {"KVXAEUserSystemCleanLogsAuthExec", userSystemCleanLogs},
    {"KVXAESetSystemStartupModeAuthExec", setSystemStartupMode},
    {"KVXAEForceSecureEmptyTrashAuthExec", forceSecureEmptyTrash},
    {"KVXAESetFileVisibilityAuthExec", setFileVisibility},
    {"KVXAESetPowerManagementSettingsAuthExec", setPowerManagementProfile},
    {"KVXAECleanLocalizationsAuthExec", cleanLocalizations},
    {"KVXAECleanBinariesAuthExec", cleanBinaries},
    {"KVXAERebuildLocateDatabaseAuthExec", rebuildLocateDatabase},
    {"KVXAERebuildWhatisDatabaseAuthExec", rebuildWhatisDatabase},
    {"KVXAEQueryProcessesAuthExec", queryProcesses},
    {"KVXAESetSwapVolumeAuthExec", setSwapVolume},
    {"KVXAESetLoginWindowPlistAuthExec", setLoginWindowPlist},
};

}  // namespace

int callExecutionFunction(const plist::Dictionary& parameters) {
    AEDEBUG = boolFromConfigAndKey(&parameters, kDebugKey);
    auto it = parameters.find(kIdentifierKey);
    const std::string* identifier = it == parameters.end() ? nullptr : it->second.asString();
    if (identifier == nullptr) return 7;
    for (const Entry& entry : kOperations) {
        if (!stringsEqual(*identifier, entry.identifier)) continue;
        return entry.operation == nullptr ? 0 : entry.operation(parameters);
    }
    return 7;
}
