#pragma once
// What the executor and its callers agree on: the operation identifiers (and
// the short aliases people type), the request keys each operation reads with
// their types, the keys of the result records, and the exit statuses, both
// the executor's own and each operation's. Both sides read this table; a
// test records every key each operation looks up and compares with it.
// Every string here is a literal, so its data() ends in a zero byte.

#include <span>
#include <string_view>

namespace contract {

// Request and record keys every run shares.
inline constexpr std::string_view kIdentifierKey = "KVXAEIdentifierAuthExecConfigurationKey";
inline constexpr std::string_view kDebugKey = "KVXAEDebugAuthExecConfigurationKey";
inline constexpr std::string_view kProgressIdentifier =
    "KVXAEProgressUpdateAuthExecOutputIdentifier";
inline constexpr std::string_view kRecordTagKey =
    "KVXAEDictionaryIdentifierAuthExecOutputIdentifier";
inline constexpr std::string_view kTotalSizeRemovedKey =
    "KVXAETotalSizeRemovedAuthExecDictionaryOutputKey";
inline constexpr std::string_view kAuthExecRight = "com.kvxlabs.Varno.authExec";

inline constexpr std::string_view kSetuidRootIdentifier = "KVXAESetuidrootAuthExec";

// Result records that carry more than the size total.
inline constexpr std::string_view kProcessesKey = "KVXAEQueryProcessesAuthExecDictionaryOutputKey";
namespace process {
inline constexpr std::string_view kPID = "PID";
inline constexpr std::string_view kCommand = "Command";
inline constexpr std::string_view kLaunchPath = "LaunchPath";
inline constexpr std::string_view kArguments = "Arguments";
inline constexpr std::string_view kPercentCPU = "PercentCPU";
inline constexpr std::string_view kThreadCount = "ThreadCount";
inline constexpr std::string_view kEffectiveUser = "EffectiveUser";
inline constexpr std::string_view kPercentMemory = "PercentMemory";
inline constexpr std::string_view kVMSize = "VMSize";
inline constexpr std::string_view kResidentMemorySize = "ResidentMemorySize";
inline constexpr std::string_view kPriority = "Priority";
inline constexpr std::string_view kFaults = "Faults";
inline constexpr std::string_view kPageins = "Pageins";
}  // namespace process

inline constexpr std::string_view kSpotlightVolumesKey =
    "KVXAEVolumesQuerySpotlightAuthExecDictionaryOutputKey";
namespace spotlight {
inline constexpr std::string_view kMountPoint =
    "KVXAEMountPointQuerySpotlightInfoExecutorDidEndInfoKey";
inline constexpr std::string_view kIndexingStatus =
    "KVXAEIndexingStatusQuerySpotlightInfoExecutorDidEndInfoKey";
inline constexpr std::string_view kIndexSize =
    "KVXAEIndexSizeQuerySpotlightInfoExecutorDidEndInfoKey";
inline constexpr std::string_view kSelfExcluded =
    "KVXAESelfExculdedQuerySpotlightInfoExecutorDidEndInfoKey";
}  // namespace spotlight

// The two preference-file operations tag their records with a key of their own.
struct PreferenceFilesRecord {
    std::string_view tag;
    std::string_view moved;
    std::string_view failed;
    std::string_view errors;
};
inline constexpr PreferenceFilesRecord kDisableRecord = {
    "KVXAEResultsDisablePreferenceFilesAuthExecDictionaryOutputKey",
    "KVXAEDisabledFilesDisablePreferenceFilesExecutorDidEndInfoKey",
    "KVXAEErrorFilesDisablePreferenceFilesExecutorDidEndInfoKey",
    "KVXAEFileErrorsDisablePreferenceFilesExecutorDidEndInfoKey",
};
inline constexpr PreferenceFilesRecord kRestoreRecord = {
    "KVXAEResultsRestorePreferenceFilesAuthExecDictionaryOutputKey",
    "KVXAERestoredFilesRestorePreferenceFilesExecutorDidEndInfoKey",
    "KVXAEErrorFilesRestorePreferenceFilesExecutorDidEndInfoKey",
    "KVXAEFileErrorsRestorePreferenceFilesExecutorDidEndInfoKey",
};

enum class KeyType {
    Boolean,
    Integer,
    String,
    StringArray,
    BooleanDictionary,  // names mapped to true, e.g. the languages to remove
    Dictionary,
};

struct Key {
    std::string_view name;
    KeyType type;
    // Progress the operation reports, as increments, when this boolean key
    // is true; 0 when it reports none for it.
    double increment = 0;
};

struct Status {
    int status;
    std::string_view meaning;
};

struct Operation {
    std::string_view identifier;
    std::string_view alias;
    std::string_view title;
    std::span<const Key> keys;
    std::span<const Status> statuses;  // the operation's own, besides 0
};

// The executor's own endings: its last line starts with `message` and
// holds `detail` (both empty when it writes nothing), and no operation ran.
struct FramingStatus {
    int status;
    std::string_view message;
    std::string_view detail;
    std::string_view meaning;
};

inline constexpr int kStatusUnknownOperation = 7;
inline constexpr int kStatusOutOfMemory = 12;
inline constexpr int kStatusNoPathToSelf = 13;
// The forwarder's privileged copy could not be waited for or did not exit.
inline constexpr int kStatusPrivilegedCopyFailed = kStatusNoPathToSelf;
inline constexpr int kStatusNoPrivilegedReference = 14;
inline constexpr int kStatusSelfRepairLocked = 15;
inline constexpr int kStatusSelfUnreadable = 16;
inline constexpr int kStatusNoAuthorizationForm = 17;
inline constexpr int kStatusBadAuthorizationForm = 18;
inline constexpr int kStatusNoRequestLength = 20;
inline constexpr int kStatusRequestIncomplete = 21;
inline constexpr int kStatusRequestUnreadable = 22;
// The buffer for the executor's own path could not be allocated.
inline constexpr int kStatusNoMemoryForPath = kStatusRequestUnreadable;
// A privileged run could not close the descriptors or clear the environment
// its caller handed on; it ends before it uses either.
inline constexpr int kStatusNotSanitized = 23;
// The self-repair could not make the executor's file root's or set its mode;
// it ends rather than leave a set-user-ID file someone else owns.
inline constexpr int kStatusSelfNotRepaired = 24;
// A tool that replaces the executor could not be started (-1).
inline constexpr int kStatusToolNotStarted = 255;

inline constexpr FramingStatus kFramingStatuses[] = {
    {kStatusUnknownOperation, "", "", "the executor does not know the operation"},
    {kStatusOutOfMemory, "Error reallocating path_to_self", "", "the executor ran out of memory"},
    {kStatusNoPathToSelf, "Can't get path_to_self", "", "the executor could not find itself"},
    {kStatusPrivilegedCopyFailed, "Error waiting for self-repair child process", "",
     "the executor's privileged copy failed"},
    {kStatusNoPrivilegedReference, "Error ", " copying privelage reference",
     "the executor was not started through a privileged launch"},
    {kStatusSelfRepairLocked, "Exclusive open failed in self-repair mode:", "",
     "another run is repairing the executor"},
    {kStatusSelfUnreadable, "Error in fstat():", "", "the executor could not read its own file"},
    {kStatusNoAuthorizationForm, "Error reading externalAuthorizationRef:", "",
     "no authorization reached the executor"},
    {kStatusBadAuthorizationForm, "Error ", " creating authorizationRef",
     "the executor did not accept the authorization"},
    {kStatusNoRequestLength, "Error reading sizeOfDict", "", "the request's length did not arrive"},
    {kStatusRequestIncomplete, "Error reading parametersDict:", "",
     "the request did not arrive whole"},
    {kStatusNoMemoryForPath, "Error allocating path_to_self", "", "the executor ran out of memory"},
    {kStatusRequestUnreadable, "", "", "the request is no property list"},
    // These two say why on standard error, so standard output stays empty.
    {kStatusNotSanitized, "", "", "the executor could not shut out what its caller handed on"},
    {kStatusSelfNotRepaired, "", "", "the executor could not repair its own file"},
};

// "Error %ld authorizing.": the run ends with the low 8 bits of that status.
inline constexpr std::string_view kAuthorizingMessage = "Error ";
inline constexpr std::string_view kAuthorizingDetail = " authorizing.";
inline constexpr Status kAuthorizationStatuses[] = {
    {-60005, "authorization denied"},
    {-60006, "authorization cancelled"},
    {-60007, "authorization needs interaction"},
};

namespace keys {

inline constexpr std::string_view kMountPoint = "MountPoint";
inline constexpr std::string_view kDeviceNode = "KVXAEDeviceNodeFilesystemConfigurationKey";
inline constexpr std::string_view kMountPoints =
    "KVXAEMountPointsQuerySpotlightInfoExecutorConfigurationKey";
inline constexpr std::string_view kEnableJournaling =
    "KVXAEEnableJournalingSetVolumeJournalStatusExecutorConfigurationKey";
inline constexpr std::string_view kEnableOwnership =
    "KVXAEEnableOwnershipSetVolumeOwnershipStatusExecutorConfigurationKey";
inline constexpr std::string_view kDisableFiles =
    "KVXAEFilesDisablePreferenceFilesExecutorConfigurationKey";
inline constexpr std::string_view kRestoreFiles =
    "KVXAEFilesRestorePreferenceFilesExecutorConfigurationKey";
inline constexpr std::string_view kStartupMode =
    "KVXAEModeArgumentSetSystemStartupModeAuthExecConfigurationKey";
inline constexpr std::string_view kDeletionMethod = "ForceSecureEmptyTrashDeletionMethod";
inline constexpr std::string_view kVisibilityFiles =
    "KVXAEFilesShowHideFilesExecutorConfigurationKey";
inline constexpr std::string_view kVisible = "KVXAEVisibleShowHideFilesExecutorConfigurationKey";
inline constexpr std::string_view kPowerProfile =
    "KVXAEProfileSetPowerManagementSettingsExecutorConfigurationKey";
inline constexpr std::string_view kPowerSource =
    "KVXAESourceSetPowerManagementSettingsExecutorConfigurationKey";
inline constexpr std::string_view kLoginWindow =
    "KVXAEPlistSetLoginWindowPlistExecutorConfigurationKey";
inline constexpr std::string_view kLanguages = "Languages";

constexpr Key flag(std::string_view name, double increment = 0) {
    return {name, KeyType::Boolean, increment};
}

// The font group reports four increments, every other group one.
inline constexpr Key kCaches[] = {
    flag("UserFonts", 40),
    flag("UserAudio", 10),
    flag("UserQuickTime", 10),
    flag("UserSpotlight", 10),
    flag("UserColorSync", 10),
    flag("UserDockIcons", 10),
    flag("SystemBoot", 10),
    flag("SystemKernel", 10),
    flag("SystemFonts", 10),
    flag("SystemQuickTime", 10),
    flag("SystemCUPS", 10),
    flag("SystemLookupDaemon", 10),
    flag("SystemTemporaryItems", 10),
};

inline constexpr Key kLogs[] = {
    flag("UserConsole", 10),
    flag("UserCrashReporter", 10),
    flag("UserHangReporter", 10),
    flag("UserDiagnosticReports", 10),
    flag("UserDirectoryService", 10),
    flag("UserSoftwareUpdate", 10),
    flag("UserFileSharing", 10),
    flag("UserPanic", 10),
    flag("SystemAppleSystem", 10),
    flag("SystemCrashReporter", 10),
    flag("SystemLPRIPPrinting", 10),
    flag("SystemMail", 10),
    flag("SystemSystem", 10),
    flag("SystemCUPS", 10),
    flag("SystemDirectoryService", 10),
    flag("SystemSecurity", 10),
    flag("SystemFTP", 10),
    flag("SystemFSCKHFS", 10),
    flag("SystemDiagnosticMessages", 10),
    flag("SystemLookupDaemon", 10),
    flag("SystemWebSharing", 10),
    flag("SystemCronScripts", 10),
    flag("SystemWindowServer", 10),
    flag("SystemSombaServer", 10),
    flag("SystemKernel", 10),
    flag("SystemInstall", 10),
};

#define VARNO_CONTRACT_LOCATIONS                                                       \
    flag("LocalApplications"), flag("LocalPreferencePanes"), flag("UserApplications"), \
        flag("UserDeveloperApplications"), flag("UserPreferencePanes"),                \
        flag("SystemCoreServices"), flag("SystemPreferencePanes")

inline constexpr Key kLocalizations[] = {
    {kLanguages, KeyType::BooleanDictionary},
    VARNO_CONTRACT_LOCATIONS,
};
inline constexpr Key kBinaries[] = {
    VARNO_CONTRACT_LOCATIONS,
    flag("ppc"),
    flag("i386"),
    flag("x86_64"),
};
#undef VARNO_CONTRACT_LOCATIONS

inline constexpr Key kSpotlightInfo[] = {{kMountPoints, KeyType::StringArray}};
inline constexpr Key kJournaling[] = {{kMountPoint, KeyType::String}, flag(kEnableJournaling)};
inline constexpr Key kOwnership[] = {{kMountPoint, KeyType::String}, flag(kEnableOwnership)};
inline constexpr Key kVolumeAndDevice[] = {{kMountPoint, KeyType::String},
                                           {kDeviceNode, KeyType::String}};
inline constexpr Key kDevice[] = {{kDeviceNode, KeyType::String}};
inline constexpr Key kVolume[] = {{kMountPoint, KeyType::String}};
inline constexpr Key kLaunchServices[] = {flag("SystemDomain"), flag("ForceUpdate")};
inline constexpr Key kDyldCache[] = {flag("ForceUpdate"), flag("PPC"), flag("i386"),
                                     flag("x86_64")};
inline constexpr Key kNetwork[] = {
    {"TCPSendBuffer", KeyType::Integer},
    {"TCPReceiveBuffer", KeyType::Integer},
    {"MaxSocketBuffer", KeyType::Integer},
    flag("DelayedAcks"),
    flag("RFC1323"),
};
inline constexpr Key kDisablePreferences[] = {{kDisableFiles, KeyType::StringArray}};
inline constexpr Key kRestorePreferences[] = {{kRestoreFiles, KeyType::StringArray}};
inline constexpr Key kStartup[] = {{kStartupMode, KeyType::String}};
inline constexpr Key kTrash[] = {{kMountPoint, KeyType::StringArray},
                                 {kDeletionMethod, KeyType::Integer}};
inline constexpr Key kVisibility[] = {{kVisibilityFiles, KeyType::StringArray}, flag(kVisible)};
inline constexpr Key kPower[] = {{kPowerProfile, KeyType::Dictionary},
                                 {kPowerSource, KeyType::Integer}};
inline constexpr Key kLoginWindowPlist[] = {{kLoginWindow, KeyType::Dictionary}};

}  // namespace keys

namespace statuses {

inline constexpr Status kToolReplaced[] = {
    {kStatusToolNotStarted, "the system tool could not be started"}};
inline constexpr Status kNetwork[] = {
    {4, "a value is out of range, or sysctl.conf could not be written"}};
inline constexpr Status kSwap[] = {
    {15, "the system pager's launch daemon could not be recreated"},
    {16, "the swap start tool could not be copied into /sbin"},
    {17, "the swap start tool's owner and group could not be set"},
    {18, "the swap start tool's mode could not be set"},
    {19, "the swap start tool's launch daemon could not be written"},
    {20, "the system pager's launch daemon could not be moved aside"},
};
inline constexpr Status kSpotlightChild[] = {{17, "the indexing tool could not be started"}};
inline constexpr Status kPrivatize[] = {{1, "the indexing tool could not be started"}};
inline constexpr Status kVisibility[] = {
    {12, "the executor ran out of memory"},
    {13, "the executor could not find itself"},
    {22, "the executor ran out of memory"},
};
inline constexpr Status kPower[] = {{kStatusToolNotStarted, "invalid power source"}};
inline constexpr Status kLoginWindow[] = {
    {20, "the login window preferences could not be written"}};

}  // namespace statuses

// The operation identifiers; they double as the tags of result records.
namespace id {
inline constexpr std::string_view kSetuidroot = kSetuidRootIdentifier;
inline constexpr std::string_view kQuerySpotlightInfo = "KVXAEQuerySpotlightInfoAuthExec";
inline constexpr std::string_view kSetVolumeJournalStatus = "KVXAESetVolumeJournalStatusAuthExec";
inline constexpr std::string_view kSetVolumeOwnershipStatus =
    "KVXAESetVolumeOwnershipStatusAuthExec";
inline constexpr std::string_view kVerifyRepairVolumeStructure =
    "KVXAEVerifyRepairVolumeStructureAuthExec";
inline constexpr std::string_view kUnmountVolume = "KVXAEUnmountVolumeAuthExec";
inline constexpr std::string_view kMountVolume = "KVXAEMountVolumeAuthExec";
inline constexpr std::string_view kVerifyRepairFilePermissions =
    "KVXAEVerifyRepairFilePermissionsAuthExec";
inline constexpr std::string_view kRebuildSpotlightVolumeIndex =
    "KVXAERebuildSpotlightVolumeIndexAuthExec";
inline constexpr std::string_view kDisableSpotlightVolumeIndexing =
    "KVXAEDisableSpotlightVolumeIndexingAuthExec";
inline constexpr std::string_view kPrivatizeSpotlightVolume =
    "KVXAEPrivatizeSpotlightVolumeAuthExec";
inline constexpr std::string_view kRebuildLaunchServicesDatabase =
    "KVXAERebuildLaunchServicesDatabaseAuthExec";
inline constexpr std::string_view kRebuildDyldSharedCache = "KVXAERebuildDyldSharedCacheAuthExec";
inline constexpr std::string_view kSetNetworkParameters = "KVXAESetNetworkParametersAuthExec";
inline constexpr std::string_view kDisablePreferenceFiles = "KVXAEDisablePreferenceFilesAuthExec";
inline constexpr std::string_view kRestorePreferenceFiles = "KVXAERestorePreferenceFilesAuthExec";
inline constexpr std::string_view kUserSystemCleanCaches = "KVXAEUserSystemCleanCachesAuthExec";
inline constexpr std::string_view kUserSystemCleanLogs = "KVXAEUserSystemCleanLogsAuthExec";
inline constexpr std::string_view kSetSystemStartupMode = "KVXAESetSystemStartupModeAuthExec";
inline constexpr std::string_view kForceSecureEmptyTrash = "KVXAEForceSecureEmptyTrashAuthExec";
inline constexpr std::string_view kSetFileVisibility = "KVXAESetFileVisibilityAuthExec";
inline constexpr std::string_view kSetPowerManagementSettings =
    "KVXAESetPowerManagementSettingsAuthExec";
inline constexpr std::string_view kCleanLocalizations = "KVXAECleanLocalizationsAuthExec";
inline constexpr std::string_view kCleanBinaries = "KVXAECleanBinariesAuthExec";
inline constexpr std::string_view kRebuildLocateDatabase = "KVXAERebuildLocateDatabaseAuthExec";
inline constexpr std::string_view kRebuildWhatisDatabase = "KVXAERebuildWhatisDatabaseAuthExec";
inline constexpr std::string_view kQueryProcesses = "KVXAEQueryProcessesAuthExec";
inline constexpr std::string_view kSetSwapVolume = "KVXAESetSwapVolumeAuthExec";
inline constexpr std::string_view kSetLoginWindowPlist = "KVXAESetLoginWindowPlistAuthExec";
}  // namespace id

// In the dispatcher's order: the first equal identifier wins.
inline constexpr Operation kOperations[] = {
    {id::kSetuidroot, "setuid-root", "Installing the executor", {}, {}},
    {id::kQuerySpotlightInfo,
     "spotlight-info",
     "Reading Spotlight information",
     keys::kSpotlightInfo,
     {}},
    {id::kSetVolumeJournalStatus,
     "set-journaling",
     "Setting volume journaling",
     keys::kJournaling,
     {}},
    {id::kSetVolumeOwnershipStatus,
     "set-ownership",
     "Setting volume ownership",
     keys::kOwnership,
     {}},
    {id::kVerifyRepairVolumeStructure, "repair-volume", "Verifying and repairing the volume",
     keys::kVolumeAndDevice, statuses::kToolReplaced},
    {id::kUnmountVolume, "unmount-volume", "Unmounting the volume", keys::kDevice,
     statuses::kToolReplaced},
    {id::kMountVolume, "mount-volume", "Mounting the volume", keys::kDevice,
     statuses::kToolReplaced},
    {id::kVerifyRepairFilePermissions, "repair-permissions", "Repairing permissions", keys::kVolume,
     statuses::kToolReplaced},
    {id::kRebuildSpotlightVolumeIndex, "rebuild-spotlight-index", "Rebuilding the Spotlight index",
     keys::kVolume, statuses::kSpotlightChild},
    {id::kDisableSpotlightVolumeIndexing, "disable-spotlight-indexing",
     "Disabling Spotlight indexing", keys::kVolume, statuses::kSpotlightChild},
    {id::kPrivatizeSpotlightVolume, "privatize-spotlight-volume", "Making the volume private",
     keys::kVolume, statuses::kPrivatize},
    {id::kRebuildLaunchServicesDatabase, "rebuild-launch-services",
     "Rebuilding the Launch Services database", keys::kLaunchServices, statuses::kToolReplaced},
    {id::kRebuildDyldSharedCache, "rebuild-dyld-cache", "Rebuilding the shared library cache",
     keys::kDyldCache, statuses::kToolReplaced},
    {id::kSetNetworkParameters, "set-network", "Setting network parameters", keys::kNetwork,
     statuses::kNetwork},
    {id::kDisablePreferenceFiles,
     "disable-preferences",
     "Disabling preference files",
     keys::kDisablePreferences,
     {}},
    {id::kRestorePreferenceFiles,
     "restore-preferences",
     "Restoring preference files",
     keys::kRestorePreferences,
     {}},
    {id::kUserSystemCleanCaches, "clean-caches", "Cleaning caches", keys::kCaches, {}},
    {id::kUserSystemCleanLogs, "clean-logs", "Cleaning logs", keys::kLogs, {}},
    {id::kSetSystemStartupMode, "set-startup-mode", "Setting the startup mode", keys::kStartup,
     statuses::kToolReplaced},
    {id::kForceSecureEmptyTrash, "empty-trash", "Emptying the trash", keys::kTrash, {}},
    {id::kSetFileVisibility, "set-visibility", "Setting file visibility", keys::kVisibility,
     statuses::kVisibility},
    {id::kSetPowerManagementSettings, "set-power-management", "Setting power management",
     keys::kPower, statuses::kPower},
    {id::kCleanLocalizations,
     "clean-localizations",
     "Cleaning localizations",
     keys::kLocalizations,
     {}},
    {id::kCleanBinaries, "clean-binaries", "Slimming binaries", keys::kBinaries, {}},
    {id::kRebuildLocateDatabase,
     "rebuild-locate-database",
     "Rebuilding the locate database",
     {},
     {}},
    {id::kRebuildWhatisDatabase,
     "rebuild-whatis-database",
     "Rebuilding the whatis database",
     {},
     statuses::kToolReplaced},
    {id::kQueryProcesses, "query-processes", "Listing processes", {}, {}},
    {id::kSetSwapVolume, "set-swap-volume", "Moving the swap files", keys::kVolume,
     statuses::kSwap},
    {id::kSetLoginWindowPlist, "set-login-window", "Setting the login window",
     keys::kLoginWindowPlist, statuses::kLoginWindow},
};

// A status of the executor's own that no operation and no refused
// authorization also ends with, so that it says one thing only.
constexpr bool statusIsTheExecutorsAlone(int status) {
    for (const Operation& op : kOperations)
        for (const Status& s : op.statuses)
            if (s.status == status) return false;
    for (const Status& s : kAuthorizationStatuses)
        if ((s.status & 0xff) == status) return false;
    for (int older :
         {kStatusUnknownOperation, kStatusOutOfMemory, kStatusNoPathToSelf,
          kStatusNoPrivilegedReference, kStatusSelfRepairLocked, kStatusSelfUnreadable,
          kStatusNoAuthorizationForm, kStatusBadAuthorizationForm, kStatusNoRequestLength,
          kStatusRequestIncomplete, kStatusRequestUnreadable, kStatusToolNotStarted})
        if (older == status) return false;
    return status != 0;
}
static_assert(statusIsTheExecutorsAlone(kStatusNotSanitized) &&
              statusIsTheExecutorsAlone(kStatusSelfNotRepaired) &&
              kStatusNotSanitized != kStatusSelfNotRepaired);

// By identifier or alias, exactly as written; nullptr when unknown.
constexpr const Operation* findOperation(std::string_view nameOrAlias) {
    for (const Operation& op : kOperations)
        if (nameOrAlias == op.identifier || nameOrAlias == op.alias) return &op;
    return nullptr;
}

// The operations that always end with a result record, and the tag it
// carries: a run of one of them that ends well without it has lost it.
struct AlwaysWrittenRecord {
    std::string_view identifier;
    std::string_view tag;
};
inline constexpr AlwaysWrittenRecord kAlwaysWrittenRecords[] = {
    {id::kUserSystemCleanCaches, id::kUserSystemCleanCaches},
    {id::kUserSystemCleanLogs, id::kUserSystemCleanLogs},
    {id::kCleanLocalizations, id::kCleanLocalizations},
    {id::kCleanBinaries, id::kCleanBinaries},
    {id::kQueryProcesses, id::kQueryProcesses},
    {id::kQuerySpotlightInfo, id::kQuerySpotlightInfo},
    {id::kDisablePreferenceFiles, kDisableRecord.tag},
    {id::kRestorePreferenceFiles, kRestoreRecord.tag},
};

// The tag of the record the operation always writes; empty when it writes
// none (or its output is a system tool's).
constexpr std::string_view alwaysWrittenRecordTag(std::string_view identifier) {
    for (const AlwaysWrittenRecord& r : kAlwaysWrittenRecords)
        if (identifier == r.identifier) return r.tag;
    return {};
}

// By identifier alone, as the dispatcher compares.
constexpr const Operation* operationWithIdentifier(std::string_view identifier) {
    for (const Operation& op : kOperations)
        if (identifier == op.identifier) return &op;
    return nullptr;
}

// The executor's own meaning of a status when `lastLine`, the last line the
// run wrote (empty when it wrote nothing), shows that the executor ended the
// run itself; empty otherwise, for the status is then the operation's.
constexpr std::string_view framingMeaning(int status, std::string_view lastLine) {
    auto says = [&](std::string_view message, std::string_view detail) {
        if (message.empty()) return lastLine.empty();
        return lastLine.starts_with(message) &&
               (detail.empty() || lastLine.find(detail) != std::string_view::npos);
    };
    for (const FramingStatus& f : kFramingStatuses)
        if (f.status == status && says(f.message, f.detail)) return f.meaning;
    if (says(kAuthorizingMessage, kAuthorizingDetail)) {
        for (const Status& s : kAuthorizationStatuses)
            if ((s.status & 0xff) == status) return s.meaning;
        return "the authorization was refused";
    }
    return {};
}

// The operation's own meaning of a status; empty when it defines none.
constexpr std::string_view operationStatusMeaning(const Operation& op, int status) {
    for (const Status& s : op.statuses)
        if (s.status == status) return s.meaning;
    return {};
}

}  // namespace contract
