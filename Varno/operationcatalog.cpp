#include "operationcatalog.h"

namespace varno {

namespace {

KeySpec flag(const char* name, double increment = 0) {
    return {name, KeyType::Boolean, increment};
}

QList<KeySpec> cacheKeys() {
    // The font group reports four increments, every other group one.
    QList<KeySpec> keys{flag("UserFonts", 40)};
    for (const char* k :
         {"UserAudio", "UserQuickTime", "UserSpotlight", "UserColorSync", "UserDockIcons",
          "SystemBoot", "SystemKernel", "SystemFonts", "SystemQuickTime", "SystemCUPS",
          "SystemLookupDaemon", "SystemTemporaryItems"})
        keys.append(flag(k, 10));
    return keys;
}

QList<KeySpec> logKeys() {
    QList<KeySpec> keys;
    for (const char* k : {"UserConsole",
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
                          "SystemInstall"})
        keys.append(flag(k, 10));
    return keys;
}

QList<KeySpec> locationKeys() {
    QList<KeySpec> keys;
    for (const char* k : {"LocalApplications", "LocalPreferencePanes", "UserApplications",
                          "UserDeveloperApplications", "UserPreferencePanes", "SystemCoreServices",
                          "SystemPreferencePanes"})
        keys.append(flag(k));
    return keys;
}

const KeySpec kMountPoint{"MountPoint", KeyType::String};
const KeySpec kDeviceNode{"KVXAEDeviceNodeFilesystemConfigurationKey", KeyType::String};

QList<Operation> makeCatalog() {
    QList<KeySpec> localizations = locationKeys();
    localizations.prepend({"Languages", KeyType::BooleanDictionary});
    QList<KeySpec> binaries = locationKeys();
    binaries.append({flag("ppc"), flag("i386"), flag("x86_64")});
    return {
        {"KVXAESetuidrootAuthExec", "setuid-root", "Installing the executor", {}},
        {"KVXAEQuerySpotlightInfoAuthExec",
         "spotlight-info",
         "Reading Spotlight information",
         {{"KVXAEMountPointsQuerySpotlightInfoExecutorConfigurationKey", KeyType::StringArray}}},
        {"KVXAESetVolumeJournalStatusAuthExec",
         "set-journaling",
         "Setting volume journaling",
         {kMountPoint,
          flag("KVXAEEnableJournalingSetVolumeJournalStatusExecutorConfigurationKey")}},
        {"KVXAESetVolumeOwnershipStatusAuthExec",
         "set-ownership",
         "Setting volume ownership",
         {kMountPoint,
          flag("KVXAEEnableOwnershipSetVolumeOwnershipStatusExecutorConfigurationKey")}},
        {"KVXAEVerifyRepairVolumeStructureAuthExec",
         "repair-volume",
         "Verifying and repairing the volume",
         {kMountPoint, kDeviceNode}},
        {"KVXAEUnmountVolumeAuthExec", "unmount-volume", "Unmounting the volume", {kDeviceNode}},
        {"KVXAEMountVolumeAuthExec", "mount-volume", "Mounting the volume", {kDeviceNode}},
        {"KVXAEVerifyRepairFilePermissionsAuthExec",
         "repair-permissions",
         "Repairing permissions",
         {kMountPoint}},
        {"KVXAERebuildSpotlightVolumeIndexAuthExec",
         "rebuild-spotlight-index",
         "Rebuilding the Spotlight index",
         {kMountPoint}},
        {"KVXAEDisableSpotlightVolumeIndexingAuthExec",
         "disable-spotlight-indexing",
         "Disabling Spotlight indexing",
         {kMountPoint}},
        {"KVXAEPrivatizeSpotlightVolumeAuthExec",
         "privatize-spotlight-volume",
         "Making the volume private",
         {kMountPoint}},
        {"KVXAERebuildLaunchServicesDatabaseAuthExec",
         "rebuild-launch-services",
         "Rebuilding the Launch Services database",
         {flag("SystemDomain"), flag("ForceUpdate")}},
        {"KVXAERebuildDyldSharedCacheAuthExec",
         "rebuild-dyld-cache",
         "Rebuilding the shared library cache",
         {flag("ForceUpdate"), flag("PPC"), flag("i386"), flag("x86_64")}},
        {"KVXAESetNetworkParametersAuthExec",
         "set-network",
         "Setting network parameters",
         {{"TCPSendBuffer", KeyType::Integer},
          {"TCPReceiveBuffer", KeyType::Integer},
          {"MaxSocketBuffer", KeyType::Integer},
          flag("DelayedAcks"),
          flag("RFC1323")}},
        {"KVXAEDisablePreferenceFilesAuthExec",
         "disable-preferences",
         "Disabling preference files",
         {{"KVXAEFilesDisablePreferenceFilesExecutorConfigurationKey", KeyType::StringArray}}},
        {"KVXAERestorePreferenceFilesAuthExec",
         "restore-preferences",
         "Restoring preference files",
         {{"KVXAEFilesRestorePreferenceFilesExecutorConfigurationKey", KeyType::StringArray}}},
        {"KVXAEUserSystemCleanCachesAuthExec", "clean-caches", "Cleaning caches", cacheKeys()},
        {"KVXAEUserSystemCleanLogsAuthExec", "clean-logs", "Cleaning logs", logKeys()},
        {"KVXAESetSystemStartupModeAuthExec",
         "set-startup-mode",
         "Setting the startup mode",
         {{"KVXAEModeArgumentSetSystemStartupModeAuthExecConfigurationKey", KeyType::String}}},
        {"KVXAEForceSecureEmptyTrashAuthExec",
         "empty-trash",
         "Emptying the trash",
         {{"MountPoint", KeyType::StringArray}}},
        {"KVXAESetFileVisibilityAuthExec",
         "set-visibility",
         "Setting file visibility",
         {{"KVXAEFilesShowHideFilesExecutorConfigurationKey", KeyType::StringArray},
          flag("KVXAEVisibleShowHideFilesExecutorConfigurationKey")}},
        {"KVXAESetPowerManagementSettingsAuthExec",
         "set-power-management",
         "Setting power management",
         {{"KVXAEProfileSetPowerManagementSettingsExecutorConfigurationKey", KeyType::Dictionary},
          {"KVXAESourceSetPowerManagementSettingsExecutorConfigurationKey", KeyType::Integer}}},
        {"KVXAECleanLocalizationsAuthExec", "clean-localizations", "Cleaning localizations",
         localizations},
        {"KVXAECleanBinariesAuthExec", "clean-binaries", "Slimming binaries", binaries},
        {"KVXAERebuildLocateDatabaseAuthExec",
         "rebuild-locate-database",
         "Rebuilding the locate database",
         {}},
        {"KVXAERebuildWhatisDatabaseAuthExec",
         "rebuild-whatis-database",
         "Rebuilding the whatis database",
         {}},
        {"KVXAEQueryProcessesAuthExec", "query-processes", "Listing processes", {}},
        {"KVXAESetSwapVolumeAuthExec", "set-swap-volume", "Moving the swap files", {kMountPoint}},
        {"KVXAESetLoginWindowPlistAuthExec",
         "set-login-window",
         "Setting the login window",
         {{"KVXAEPlistSetLoginWindowPlistExecutorConfigurationKey", KeyType::Dictionary}}},
    };
}

}  // namespace

const KeySpec* Operation::key(const QString& name) const {
    for (const KeySpec& k : keys)
        if (name == QLatin1String(k.name)) return &k;
    return nullptr;
}

double Operation::expectedIncrements(const QVariantMap& request) const {
    double sum = 0;
    for (const KeySpec& k : keys) {
        if (k.increment <= 0) continue;
        const QVariant v = request.value(QLatin1String(k.name));
        if (v.typeId() == QMetaType::Bool && v.toBool()) sum += k.increment;
    }
    return sum;
}

const QList<Operation>& OperationCatalog::all() {
    static const QList<Operation> catalog = makeCatalog();
    return catalog;
}

const Operation* OperationCatalog::find(const QString& nameOrAlias) {
    for (const Operation& op : all())
        if (nameOrAlias == QLatin1String(op.identifier) || nameOrAlias == QLatin1String(op.alias))
            return &op;
    return nullptr;
}

QString OperationCatalog::titleFor(const QString& identifier) {
    const Operation* op = find(identifier);
    return op ? QString::fromLatin1(op->title) : identifier;
}

QString OperationCatalog::knownOperationsText() {
    QString text;
    for (const Operation& op : all())
        text += QStringLiteral("  %1  (%2)\n")
                    .arg(QString::fromLatin1(op.alias), -27)
                    .arg(QString::fromLatin1(op.identifier));
    return text;
}

}  // namespace varno
