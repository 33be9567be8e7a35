#include "operations/Volumes.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "Protocol.h"
#include "Utilities.h"
#include "host/root.h"

namespace {

constexpr const char* kDiskUtility = "/usr/sbin/diskutil";
constexpr const char* kOwnershipTool = "/usr/sbin/vsdbutil";
constexpr const char* kStructureCheck = "/sbin/fsck_hfs";

constexpr const char* kMountPointKey = contract::keys::kMountPoint.data();
constexpr const char* kDeviceKey = contract::keys::kDeviceNode.data();
constexpr const char* kJournalingKey = contract::keys::kEnableJournaling.data();
constexpr const char* kOwnershipKey = contract::keys::kEnableOwnership.data();

// The string under the key. A request without it names no volume: the tool
// is not run with a missing argument, and the caller hears why.
std::optional<std::string> requiredString(const plist::Dictionary& parameters, const char* key) {
    const plist::Value* value = requestValue(parameters, key);
    if (value != nullptr && value->asString() != nullptr) return *value->asString();
    printf("\t*** Error: the request has no %s.\n", key);
    return std::nullopt;
}

// Mounting and unmounting run with the superuser's real identity as well as
// its effective one.
bool becomeSuperuser() {
    if (setuid(0) == 0) return true;
    printf("\t*** Error setting the user ID to 0: %s (%d)\n", strerror(errno), errno);
    return false;
}

int mountOrUnmount(const plist::Dictionary& parameters, const char* verb) {
    std::optional<std::string> device = requiredString(parameters, kDeviceKey);
    if (!device || !becomeSuperuser()) return -1;
    return forkToTask(kDiskUtility, {"diskUtil", verb, *device});
}

// Starts the tool and leaves it running with the executor's output; the
// executor's status says nothing about the tool's.
int startChild(const char* tool, const std::vector<std::string>& argv) {
    std::string realPath = host::realPath(tool);
    std::vector<std::string> strings = argv;
    std::vector<char*> args;
    for (std::string& s : strings) args.push_back(s.data());
    args.push_back(nullptr);

    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        wstrnl("\t*** Error in fork()");
        exit(17);
    }
    if (pid == 0) {
        execv(realPath.c_str(), args.data());
        _exit(255);
    }
    return 0;
}

}  // namespace

int mountVolume(const plist::Dictionary& parameters) {
    return mountOrUnmount(parameters, "mount");
}

int unmountVolume(const plist::Dictionary& parameters) {
    return mountOrUnmount(parameters, "unmount");
}

int verifyRepairFilePermissions(const plist::Dictionary& parameters) {
    std::optional<std::string> mountPoint = requiredString(parameters, kMountPointKey);
    if (!mountPoint) return -1;
    return forkToTask(kDiskUtility, {"diskutil", "repairPermissions", "-plist", *mountPoint});
}

int verifyRepairVolumeStructure(const plist::Dictionary& parameters) {
    std::optional<std::string> mountPoint = requiredString(parameters, kMountPointKey);
    if (!mountPoint) return -1;
    std::optional<std::string> device = requiredString(parameters, kDeviceKey);
    if (!device) return -1;
    std::string devicePath = "/dev/" + *device;
    // The startup volume is live: it can only be checked, never repaired.
    if (stringsEqual(*mountPoint, "/"))
        return forkToTask(kStructureCheck, {"fsck_hfs", "-fn", "-l", "-g", devicePath});
    return forkToTask(kStructureCheck, {"fsck_hfs", "-fy", "-f", "-g", devicePath});
}

int setVolumeJournalStatus(const plist::Dictionary& parameters) {
    std::optional<std::string> mountPoint = requiredString(parameters, kMountPointKey);
    if (!mountPoint) return -1;
    const char* verb =
        boolFromConfigAndKey(&parameters, kJournalingKey) ? "enableJournal" : "disableJournal";
    return startChild(kDiskUtility, {"diskUtil", verb, *mountPoint});
}

int setVolumeOwnershipStatus(const plist::Dictionary& parameters) {
    std::optional<std::string> mountPoint = requiredString(parameters, kMountPointKey);
    if (!mountPoint) return -1;
    const char* flag = boolFromConfigAndKey(&parameters, kOwnershipKey) ? "-a" : "-d";
    printf("setVolumeOwnershipStatus\n");
    fprintf(stderr, "%s\n", mountPoint->c_str());
    printf("enableDisableStr: %s\n", flag);
    return startChild(kOwnershipTool, {"vsdbutil", flag, *mountPoint});
}
