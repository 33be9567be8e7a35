#include "operations/CleanCachesLogs.h"

#include <string_view>
#include <vector>

#include "Protocol.h"
#include "Utilities.h"

namespace {

constexpr const char* kCachesIdentifier = contract::id::kUserSystemCleanCaches.data();
constexpr const char* kLogsIdentifier = contract::id::kUserSystemCleanLogs.data();
constexpr double kGroupIncrement = 10.0;
// The one group that also restarts the font server, with its own increments.
constexpr std::string_view kFontsKey = "UserFonts";

enum class Kind {
    Path,       // the file, or the folder with everything in it
    Contents,   // every entry directly inside the folder; the folder stays
    Substring,  // every entry directly inside the folder whose path holds the text
};

struct Step {
    Kind kind;
    const char* path;
    const char* substring = nullptr;
};

struct Group {
    const char* key;
    std::vector<Step> steps;
};

// Both tables run in their order; every step announces what it deletes.
const Group kCacheGroups[] = {
    {"UserFonts",
     {{Kind::Contents, "/Library/Caches/com.apple.ATS/"},
      {Kind::Substring, "/Library/Caches/", "com.apple.psnormalizer.fontcache.le"},
      {Kind::Substring, "/Library/Caches/", "fontcache"}}},
    {"UserAudio",
     {{Kind::Path, "/Library/Caches/com.apple.Components2.LocalCache.AudioComponents"}}},
    {"UserQuickTime",
     {{Kind::Path, "/Library/Caches/com.apple.QuickTime.StreamingBandwidth"},
      {Kind::Path, "/Library/Caches/com.apple.Components2.LocalCache.QuickTimeComponents"}}},
    {"UserSpotlight", {{Kind::Path, "/Library/Caches/com.apple.Spotlight"}}},
    {"UserColorSync", {{Kind::Substring, "/Library/Caches/", "com.apple.colorsync.profiles"}}},
    {"UserDockIcons", {{Kind::Substring, "/Library/Caches/", "com.apple.dock.iconcache"}}},
    {"SystemBoot",
     {{Kind::Path, "/System/Library/Caches/com.apple.bootefisignature"},
      {Kind::Contents, "/System/Library/Caches/com.apple.bootstamps/"},
      {Kind::Substring, "/System/Library/Caches/", "com.apple.IntlDataCache"}}},
    {"SystemKernel",
     {{Kind::Path, "/System/Library/Extension.kextcache"},
      {Kind::Path, "/System/Library/Caches/com.apple.kernelcaches"},
      {Kind::Contents, "/System/Library/Caches/com.apple.kext.caches/"}}},
    {"SystemFonts",
     {{Kind::Path, "/System/Library/Caches/com.apple.ATS.System.fcache"},
      {Kind::Path, "/System/Library/Caches/com.apple.ATSServer.FODB_System"},
      {Kind::Path, "/System/Library/Caches/fontTablesAnnex"}}},
    {"SystemQuickTime",
     {{Kind::Path,
       "/System/Library/Caches/com.apple.Components2.SystemCache.QuickTimeComponents"}}},
    {"SystemCUPS",
     {{Kind::Contents, "/var/spool/cups/"}, {Kind::Contents, "/var/spool/cups/tmp/"}}},
    {"SystemLookupDaemon", {{Kind::Contents, "/etc/lookupd/"}}},
    {"SystemTemporaryItems", {{Kind::Contents, "/private/tmp/"}}},
};

const Group kLogGroups[] = {
    {"UserConsole", {{Kind::Contents, "/Library/Logs/Console/"}}},
    {"UserCrashReporter", {{Kind::Contents, "/Library/Logs/CrashReporter/"}}},
    {"UserHangReporter", {{Kind::Contents, "/Library/Logs/HangReporter/"}}},
    {"UserDiagnosticReports", {{Kind::Contents, "/Library/Logs/DiagnosticReports/"}}},
    {"UserDirectoryService", {{Kind::Contents, "/Library/Logs/DirectoryService/"}}},
    {"UserSoftwareUpdate", {{Kind::Path, "/Library/Logs/Software Update.log"}}},
    {"UserFileSharing", {{Kind::Contents, "/Library/Logs/AppleFileService/"}}},
    {"UserPanic", {{Kind::Path, "/Library/Logs/panic.log"}}},
    {"SystemAppleSystem", {{Kind::Path, "/private/var/log/asl.log"}}},
    {"SystemCrashReporter", {{Kind::Path, "/private/var/log/crashreporter.log"}}},
    {"SystemLPRIPPrinting", {{Kind::Path, "/private/var/log/lpr.log"}}},
    {"SystemMail", {{Kind::Path, "/private/var/log/mail.log"}}},
    {"SystemSystem", {{Kind::Substring, "/private/var/log/", "system.log"}}},
    {"SystemCUPS", {{Kind::Contents, "/private/var/log/cups/"}}},
    {"SystemDirectoryService", {{Kind::Path, "/Library/Logs/DirectoryService/"}}},
    {"SystemSecurity",
     {{Kind::Path, "/private/var/log/ipfw.log"},
      {Kind::Substring, "/private/var/log/", "secure.log"}}},
    {"SystemFTP", {{Kind::Path, "/private/var/log/ftp.log"}}},
    {"SystemFSCKHFS", {{Kind::Path, "/private/var/log/fsck_hfs.log"}}},
    {"SystemDiagnosticMessages", {{Kind::Contents, "/private/var/log/DiagnosticMessages/"}}},
    {"SystemLookupDaemon", {{Kind::Path, "/private/var/log/lookupd.log"}}},
    {"SystemWebSharing",
     {{Kind::Contents, "/private/var/log/httpd/"}, {Kind::Contents, "/private/var/log/apache2/"}}},
    {"SystemCronScripts",
     {{Kind::Path, "/private/var/log/daily.log"},
      {Kind::Path, "/private/var/log/Weekly.log"},
      {Kind::Path, "/private/var/log/monthly.log"}}},
    {"SystemWindowServer", {{Kind::Path, "/private/var/log/windowserver.log"}}},
    {"SystemSombaServer", {{Kind::Contents, "/private/var/log/somba/"}}},
    {"SystemKernel", {{Kind::Substring, "/private/var/log/", "kernel.log"}}},
    {"SystemInstall", {{Kind::Path, "/private/var/log/install.log"}}},
};

void perform(const Step& step) {
    switch (step.kind) {
        case Kind::Path:
            removePath(step.path, true);
            break;
        case Kind::Contents:
            removeContentsOfDirectory(step.path, true);
            break;
        case Kind::Substring:
            removeFilesFromDirectoryWithSubstringInName(step.path, step.substring, true);
            break;
    }
}

void performGroup(const Group& group) {
    for (const Step& step : group.steps) perform(step);
}

// Runs the font server utility and echoes what it printed; as the superuser
// when a user ID is given, otherwise as the user who started the executor.
void runFontServerCommand(const std::vector<std::string>& argv, const uid_t* userID) {
    constexpr const char* kAtsutil = "/usr/bin/atsutil";
    std::optional<std::string> output;
    if (userID != nullptr)
        executeAndWaitForTaskWithUserID(kAtsutil, argv, &output, *userID);
    else
        executeAndWaitForTask(kAtsutil, argv, &output);
    if (output) printLinesIndented(output, std::string("atsutil: "));
    writeProgressIncrament(kGroupIncrement);
}

// The font caches, then the font server's databases and the server itself,
// with an increment after the deletions and after each command.
void cleanFontCaches(const Group& group) {
    performGroup(group);
    writeProgressIncrament(kGroupIncrement);
    const uid_t superuser = 0;
    runFontServerCommand({"atsutil", "databases", "-remove"}, &superuser);
    runFontServerCommand({"atsutil", "server", "-shutdown"}, nullptr);
    runFontServerCommand({"atsutil", "server", "-ping"}, nullptr);
}

}  // namespace

int userSystemCleanCaches(const plist::Dictionary& parameters) {
    countTotalSizeRemoved = true;
    // Every key is read before any group runs.
    std::vector<bool> selected;
    for (const Group& group : kCacheGroups)
        selected.push_back(boolFromConfigAndKey(&parameters, group.key));
    for (std::size_t i = 0; i < std::size(kCacheGroups); ++i) {
        if (!selected[i]) continue;
        if (kCacheGroups[i].key == kFontsKey) {
            cleanFontCaches(kCacheGroups[i]);
            continue;
        }
        performGroup(kCacheGroups[i]);
        writeProgressIncrament(kGroupIncrement);
    }
    writeTotalSizeRemovedDictionaryWithID(kCachesIdentifier);
    return 0;
}

int userSystemCleanLogs(const plist::Dictionary& parameters) {
    countTotalSizeRemoved = true;
    std::vector<bool> selected;
    for (const Group& group : kLogGroups)
        selected.push_back(boolFromConfigAndKey(&parameters, group.key));
    for (std::size_t i = 0; i < std::size(kLogGroups); ++i) {
        if (!selected[i]) continue;
        performGroup(kLogGroups[i]);
        writeProgressIncrament(kGroupIncrement);
    }
    writeTotalSizeRemovedDictionaryWithID(kLogsIdentifier);
    return 0;
}
