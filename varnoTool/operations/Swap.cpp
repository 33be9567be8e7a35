#include "operations/Swap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "Protocol.h"
#include "Utilities.h"
#include "fs/copy.h"
#include "fs/open.h"
#include "fs/replace.h"

namespace swap_seams {
SystemCalls systemCalls = {::mkdirat, ::fchown, ::fchmod};
}  // namespace swap_seams

namespace {

using swap_seams::systemCalls;

constexpr const char* kMountPointKey = contract::keys::kMountPoint.data();
constexpr const char* kStartupVolume = "/";

constexpr const char* kDaemonsFolder = "/System/Library/LaunchDaemons/";
constexpr const char* kDisabledFolder = "/System/Library/LaunchDaemons/disabled/";
constexpr const char* kPagerDaemonName = "com.apple.dynamic_pager.plist";
constexpr const char* kPagerDaemon = "/System/Library/LaunchDaemons/com.apple.dynamic_pager.plist";
constexpr const char* kDisabledPagerDaemon =
    "/System/Library/LaunchDaemons/disabled/com.apple.dynamic_pager.plist";
constexpr const char* kPagerLabel = "com.apple.dynamic_pager";

constexpr const char* kToolName = "kvx_dynamic_pager_start";
constexpr const char* kToolFolder = "/sbin/";
constexpr const char* kInstalledTool = "/sbin/kvx_dynamic_pager_start";
constexpr const char* kStartLabel = "com.kvxlabs.dynamic_pager_start";
constexpr const char* kStartDaemon =
    "/System/Library/LaunchDaemons/com.kvxlabs.dynamic_pager_start.plist";
constexpr const char* kSwapFolder = "/.vm";

constexpr mode_t kToolMode = 0555;
constexpr mode_t kDisabledFolderMode = 0755;

plist::Dictionary launchDaemon(const char* label, plist::Array programArguments) {
    plist::Dictionary daemon;
    daemon["EnableTransactions"] = plist::Value::boolean(true);
    daemon["HopefullyExitsLast"] = plist::Value::boolean(true);
    daemon["OnDemand"] = plist::Value::boolean(false);
    daemon["Label"] = plist::Value(label);
    daemon["ProgramArguments"] = plist::Value(std::move(programArguments));
    return daemon;
}

bool exists(const char* path) {
    return fileOrDirectoryExistsAtPath(path, false);
}

// Opens the object a machine path names without following a link in its
// last component. -1 with errno set on failure.
int openNoFollow(const char* path, int flags) {
    std::string leaf;
    int parent = vfs::openParentFolder(path, &leaf);
    if (parent < 0) return -1;
    int fd = openat(parent, leaf.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
    int error = errno;
    close(parent);
    errno = error;
    return fd;
}

// Status of the revert path: the File Manager code of a failed re-enabling
// move, 0, or 15 when no system pager daemon could be put back.
int moveSwapToStartupVolume() {
    int result = 0;
    if (exists(kDisabledPagerDaemon)) {
        printf("\tRe-enabling %s...\n", kPagerDaemonName);
        vfs::OSErr err = vfs::FSPathMoveObjectSync(kDisabledPagerDaemon, kDaemonsFolder, nullptr,
                                                   nullptr, vfs::kFSFileOperationDefaultOptions);
        if (err != vfs::noErr) {
            printf(
                "\t***Error %d in FSPathMoveObjectSync() re-enabling default launch daemon. "
                "Aborting.\n",
                err);
            result = err;
        }
    }
    // Whatever happened before, the machine must come back with a pager.
    if (!exists(kPagerDaemon)) {
        printf("\t***Error: no default launch daemon found! Creating a new one...\n");
        plist::Dictionary daemon =
            launchDaemon(kPagerLabel, {"/sbin/dynamic_pager", "-F", "/private/var/vm/swapfile"});
        if (!writeDictionaryToPath(&daemon, std::string(kPagerDaemon))) {
            printf(
                "\t***************** Error recreating default launch daemon. "
                "*****************\n***************** This is a bad thing. "
                "*****************\n");
            return 15;
        }
    }
    // Removed even in debug mode: leaving them would keep the swap where it is.
    if (exists(kStartDaemon)) removePathCharDebug(kStartDaemon, true, true);
    if (exists(kInstalledTool)) removePathCharDebug(kInstalledTool, true, true);
    return result;
}

// Copies our own start tool into place from the very file that was checked,
// replaced whole so that its path never names a cut copy; its owner and mode
// are set by the caller. 0 or an errno value.
int copyOwnStartTool() {
    int from = openOwnResource(kToolName);
    if (from < 0) return errno;
    errno = 0;
    const std::optional<std::string> data = readDescriptor(from, 64 << 20);
    const int readError = errno != 0 ? errno : EFBIG;
    close(from);
    if (!data) return readError;
    std::string leaf;
    int folder = vfs::openParentFolderNoLinks(kInstalledTool, &leaf);
    if (folder < 0) return errno;
    const int error =
        vfs::replaceFileAt(folder, leaf, *data, vfs::ReplacementRights::asNew(0700)).error;
    close(folder);
    return error;
}

// Status 0, or 16 to 19 when installing and registering the tool failed.
int installStartTool(const std::string& mountPoint) {
    if (exists(kInstalledTool)) {
        printf("\tRemoving old %s...\n", kInstalledTool);
        removePath(kInstalledTool, true);
    }
    printf("\tInstalling %s...\n", kInstalledTool);
    if (int error = copyOwnStartTool(); error != 0) {
        printf("\t***Error copying wait tool: %s (%d). Aborting.\n", strerror(error), error);
        return 16;
    }
    int tool = openNoFollow(kInstalledTool, O_RDONLY);
    if (tool < 0 || systemCalls.fchown(tool, 0, 0) != 0) {
        int error = errno;
        if (tool >= 0) close(tool);
        printf("\t***Error setting uid/gid on wait tool: %s (%d). Aborting.\n", strerror(error),
               error);
        return 17;
    }
    if (systemCalls.fchmod(tool, kToolMode) != 0) {
        int error = errno;
        close(tool);
        printf("\t***Error setting permissions on wait tool: %s (%d). Aborting.\n", strerror(error),
               error);
        return 18;
    }
    close(tool);

    printf("\tInstalling %s%s.plist...\n", kDaemonsFolder, kStartLabel);
    plist::Dictionary daemon = launchDaemon(kStartLabel, {kInstalledTool, mountPoint, kSwapFolder});
    if (!writeDictionaryToPath(&daemon, std::string(kStartDaemon))) {
        printf("\t***Error creating new launch daemon. Aborting.\n");
        return 19;
    }
    return 0;
}

// Makes the folder for disabled daemons owned by 0:0; failures are reported
// and left to the move that follows.
void prepareDisabledFolder() {
    std::string leaf;
    int parent = vfs::openParentFolder(kDisabledFolder, &leaf);
    if (parent < 0 || systemCalls.mkdirat(parent, leaf.c_str(), kDisabledFolderMode) != 0) {
        int error = errno;
        if (error != EEXIST)
            printf("\t***Error creating disabled launch daemons directory: %s (%d)\n",
                   strerror(error), error);
    }
    if (parent >= 0) close(parent);
    int folder = openNoFollow(kDisabledFolder, O_RDONLY | O_DIRECTORY);
    if (folder < 0 || systemCalls.fchown(folder, 0, 0) != 0) {
        int error = errno;
        printf("\t***Error setting uid/gid on disabled launch daemons directory: %s (%d)\n",
               strerror(error), error);
    }
    if (folder >= 0) close(folder);
}

// Status 0, or 20 when the system pager daemon could not be set aside.
int disableSystemPager() {
    printf("\tDisabling %s...\n", kPagerDaemon);
    if (!exists(kPagerDaemon)) return 0;
    prepareDisabledFolder();
    vfs::OSErr err = vfs::FSPathMoveObjectSync(kPagerDaemon, kDisabledFolder, nullptr, nullptr,
                                               vfs::kFSFileOperationDefaultOptions);
    if (err != vfs::noErr) {
        int error = errno;
        printf(
            "\t***Error disabling deafult launch daemon: %s (%d).\nYou may want to check that "
            "there aren't two dynamic_pager processes after a system restart.\n",
            strerror(error), error);
        return 20;
    }
    return 0;
}

// The mount point the request names, or nullptr when it names none that
// launchd could hand to the tool.
const std::string* requestedMountPoint(const plist::Dictionary& parameters) {
    const plist::Value* value = requestValue(parameters, kMountPointKey);
    const std::string* mountPoint = value == nullptr ? nullptr : value->asString();
    if (mountPoint == nullptr || mountPoint->empty() || mountPoint->front() != '/' ||
        mountPoint->find('\0') != std::string::npos)
        return nullptr;
    return mountPoint;
}

}  // namespace

int setSwapVolume(const plist::Dictionary& parameters) {
    const std::string* mountPoint = requestedMountPoint(parameters);
    if (mountPoint == nullptr) {
        printf(
            "\t***Error: the request names no swap volume (\"MountPoint\" must be the "
            "absolute path of a mount point). Aborting.\n");
        return kSwapBadRequestStatus;
    }
    if (*mountPoint == kStartupVolume) return moveSwapToStartupVolume();
    int status = installStartTool(*mountPoint);
    if (status != 0) return status;
    return disableSystemPager();
}
