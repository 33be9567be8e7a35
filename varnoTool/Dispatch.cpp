#include "Dispatch.h"

#include <iterator>
#include <string_view>

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

namespace id = contract::id;

struct Entry {
    std::string_view identifier;
    OperationFunction operation;  // nullptr: nothing to do beyond what every request does
};

// Compared in this order; the first equal entry wins.
constexpr Entry kOperations[] = {
    {id::kSetuidroot, nullptr},
    {id::kQuerySpotlightInfo, querySpotlightInfo},
    {id::kSetVolumeJournalStatus, setVolumeJournalStatus},
    {id::kSetVolumeOwnershipStatus, setVolumeOwnershipStatus},
    {id::kVerifyRepairVolumeStructure, verifyRepairVolumeStructure},
    {id::kUnmountVolume, unmountVolume},
    {id::kMountVolume, mountVolume},
    {id::kVerifyRepairFilePermissions, verifyRepairFilePermissions},
    {id::kRebuildSpotlightVolumeIndex, rebuildSpotlightVolumeIndex},
    {id::kDisableSpotlightVolumeIndexing, disableSpotlightVolumeIndexing},
    {id::kPrivatizeSpotlightVolume, privatizeSpotlightVolume},
    {id::kRebuildLaunchServicesDatabase, rebuildLaunchServicesDatabase},
    {id::kRebuildDyldSharedCache, rebuildDyldSharedCache},
    {id::kSetNetworkParameters, setNetworkParameters},
    {id::kDisablePreferenceFiles, disablePreferenceFiles},
    {id::kRestorePreferenceFiles, restorePreferenceFiles},
    {id::kUserSystemCleanCaches, userSystemCleanCaches},
    {id::kUserSystemCleanLogs, userSystemCleanLogs},
    {id::kSetSystemStartupMode, setSystemStartupMode},
    {id::kForceSecureEmptyTrash, forceSecureEmptyTrash},
    {id::kSetFileVisibility, setFileVisibility},
    {id::kSetPowerManagementSettings, setPowerManagementProfile},
    {id::kCleanLocalizations, cleanLocalizations},
    {id::kCleanBinaries, cleanBinaries},
    {id::kRebuildLocateDatabase, rebuildLocateDatabase},
    {id::kRebuildWhatisDatabase, rebuildWhatisDatabase},
    {id::kQueryProcesses, queryProcesses},
    {id::kSetSwapVolume, setSwapVolume},
    {id::kSetLoginWindowPlist, setLoginWindowPlist},
};

// The table and the contract name the same operations in the same order.
constexpr bool matchesContract() {
    if (std::size(kOperations) != std::size(contract::kOperations)) return false;
    for (std::size_t i = 0; i < std::size(kOperations); ++i)
        if (kOperations[i].identifier != contract::kOperations[i].identifier) return false;
    return true;
}
static_assert(matchesContract());

}  // namespace

int callExecutionFunction(const plist::Dictionary& parameters) {
    AEDEBUG = boolFromConfigAndKey(&parameters, kDebugKey);
    const plist::Value* value = requestValue(parameters, kIdentifierKey);
    const std::string* identifier = value == nullptr ? nullptr : value->asString();
    if (identifier == nullptr) return contract::kStatusUnknownOperation;
    for (const Entry& entry : kOperations) {
        if (!stringsEqual(*identifier, entry.identifier)) continue;
        return entry.operation == nullptr ? 0 : entry.operation(parameters);
    }
    return contract::kStatusUnknownOperation;
}
