#include "operations/SystemSettings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "Protocol.h"
#include "Utilities.h"
#include "fs/open.h"
#include "fs/overwrite.h"
#include "fs/ref.h"
#include "host/root.h"
#include "host/self.h"

namespace {

constexpr const char* kDeletionMethodKey = contract::keys::kDeletionMethod.data();
constexpr const char* kMountPointKey = contract::keys::kMountPoint.data();
constexpr const char* kFilesKey = contract::keys::kVisibilityFiles.data();
constexpr const char* kVisibleKey = contract::keys::kVisible.data();
constexpr const char* kLoginWindowKey = contract::keys::kLoginWindow.data();
constexpr const char* kProfileKey = contract::keys::kPowerProfile.data();
constexpr const char* kSourceKey = contract::keys::kPowerSource.data();
constexpr const char* kStartupModeKey = contract::keys::kStartupMode.data();

constexpr const char* kLoginWindowPath = "/Library/Preferences/com.apple.loginwindow.plist";
constexpr const char* kPowerManagementPath =
    "/Library/Preferences/SystemConfiguration/com.apple.PowerManagement.plist";
constexpr const char* kCustomProfileKey = "Custom Profile";

constexpr unsigned kRemovalTicks = 5;
constexpr std::size_t kInitialPathSize = 2048;
constexpr std::size_t kGrownPathSize = 65536;

const plist::Value* valueOf(const plist::Dictionary& parameters, const char* key) {
    return requestValue(parameters, key);
}

}  // namespace

// The removefile option of a deletion method; not in numeric order.
vfs::removefile_flags_t deletionOption(std::int32_t method) {
    switch (method) {
        case 1:
            return vfs::REMOVEFILE_SECURE_1_PASS;
        case 2:
            return vfs::REMOVEFILE_SECURE_7_PASS;
        case 3:
            return vfs::REMOVEFILE_SECURE_35_PASS;
        default:
            return 0;
    }
}

namespace {

// A trash folder opened once, so that what was checked is what is emptied:
// no link on the way, a real folder, its user's or root's.
int openTrashFolder(int fromFd, const char* name, uid_t user) {
    int fd = openat(fromFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && (fstat(fd, &st) != 0 || (st.st_uid != user && st.st_uid != 0))) {
        close(fd);
        return -1;
    }
    return fd;
}

int openTrashFolder(const std::string& path, uid_t user) {
    std::string leaf;
    int parent = vfs::openParentFolderNoLinks(path, &leaf);
    if (parent < 0) return -1;
    int fd = openTrashFolder(parent, leaf.c_str(), user);
    close(parent);
    return fd;
}

struct Trash {
    std::string path;
    int fd;  // -1: looked up when it is emptied
};

void removeTrash(const Trash& trash, vfs::removefile_flags_t option) {
    printText(AEDEBUG ? "\tDEBUG: Removing contents of %s\n" : "\tRemoving contents of %s\n",
              plist::displayForm(trash.path).c_str());
    Delay(kRemovalTicks);
    if (AEDEBUG) return;
    int fd = trash.fd >= 0 ? trash.fd : openTrashFolder(trash.path, getuid());
    if (fd < 0) return;
    // The trash's own user may have the data behind every name of a file of
    // theirs destroyed; nobody else's.
    vfs::removeFolderContentsForOwner(
        fd, vfs::REMOVEFILE_RECURSIVE | vfs::REMOVEFILE_KEEP_PARENT | option, getuid());
    if (fd != trash.fd) close(fd);
}

// The executor's own executable as a machine path; 0, or the status to end
// with after its message.
int pathToSelf(std::string* path) {
    std::size_t size = kInitialPathSize;
    char* buffer = static_cast<char*>(malloc(size));
    if (buffer == nullptr) {
        wstrnl("Error allocating path_to_self");
        return 22;
    }
    const std::optional<std::string> exe = host::executablePath();
    if (exe && exe->size() >= size) {
        // Possibly cut short: once more with room for any path.
        size = kGrownPathSize;
        char* grown = static_cast<char*>(realloc(buffer, size));
        if (grown == nullptr) {
            free(buffer);
            puts("Error reallocating path_to_self");
            return 12;
        }
        buffer = grown;
    }
    if (!exe || exe->size() >= size) {
        free(buffer);
        puts("Can't get path_to_self");
        return 13;
    }
    memcpy(buffer, exe->c_str(), exe->size() + 1);
    *path = host::machinePath(buffer);
    free(buffer);
    return 0;
}

void showToolOutput(const std::optional<std::string>& output) {
    if (output && !output->empty()) showString(displayFormByLine(*output));
}

}  // namespace

int forceSecureEmptyTrash(const plist::Dictionary& parameters) {
    std::optional<std::int64_t> method = 0;
    if (requestValue(parameters, kDeletionMethodKey) != nullptr)
        method = numberFromConfigAndKey(&parameters, kDeletionMethodKey);
    if (!method) {
        // Emptying plainly when an overwrite may have been asked for would
        // leave the data readable; nothing is deleted instead.
        wstrnl("\t*** Error: invalid deletion method.");
        return -1;
    }
    const vfs::removefile_flags_t option = deletionOption(static_cast<std::int32_t>(*method));
    std::vector<Trash> folders = {{*expandTildeInPath(std::string("~/.Trash"), std::nullopt), -1}};
    const plist::Value* mountPoints = valueOf(parameters, kMountPointKey);
    if (mountPoints != nullptr && mountPoints->isArray()) {
        const std::string user = std::to_string(getuid());
        for (const plist::Value& entry : *mountPoints->asArray()) {
            const std::string* mountPoint = entry.asString();
            if (mountPoint == nullptr) continue;
            const std::string own =
                appendPathComponent(appendPathComponent(*mountPoint, ".Trashes", true), user, true);
            // The trash folders themselves are never links, whoever made them.
            int volumeFd = vfs::openMachinePathNoLinks(*mountPoint, O_RDONLY | O_DIRECTORY);
            if (volumeFd < 0) continue;
            int trashesFd =
                openat(volumeFd, ".Trashes", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            close(volumeFd);
            if (trashesFd < 0) continue;
            int fd = openTrashFolder(trashesFd, user.c_str(), getuid());
            close(trashesFd);
            if (fd >= 0) folders.push_back({own, fd});
        }
    }
    for (const Trash& folder : folders) removeTrash(folder, option);
    for (const Trash& folder : folders)
        if (folder.fd >= 0) close(folder.fd);
    return 0;
}

int setFileVisibility(const plist::Dictionary& parameters) {
    std::string self;
    if (int status = pathToSelf(&self); status != 0) return status;
    // Our own SetFile, from our own bundle: it runs with the caller's rights,
    // which need not be those of whoever could plant a program elsewhere.
    const char* letter = boolFromConfigAndKey(&parameters, kVisibleKey) ? "v" : "V";
    const plist::Value* files = valueOf(parameters, kFilesKey);
    const int tool = openOwnResource("SetFile");
    if (tool < 0) {
        printf("\t***Error: cannot use the executor's own %s: %s (%d)\n", "SetFile",
               strerror(errno), errno);
        return 0;
    }
    if (files != nullptr && files->isArray()) {
        for (const plist::Value& entry : *files->asArray()) {
            const std::string* file = entry.asString();
            if (file == nullptr) continue;
            printText("\t%s %s %s %s\n", "SetFile", "-a", letter,
                      plist::displayForm(*file).c_str());
            std::optional<std::string> output;
            executeAndWaitForTaskFromDescriptor(tool, {"SetFile", "-a", letter, *file}, &output);
            showToolOutput(output);
        }
    }
    close(tool);
    return 0;
}

int setLoginWindowPlist(const plist::Dictionary& parameters) {
    const plist::Value* value = valueOf(parameters, kLoginWindowKey);
    const plist::Dictionary* preferences = value ? value->asDictionary() : nullptr;
    return writeDictionaryToPath(preferences, std::string(kLoginWindowPath)) ? 0 : 20;
}

int setPowerManagementProfile(const plist::Dictionary& parameters) {
    struct Source {
        const char* name;
        const char* flag;
    };
    static const Source kSources[] = {
        {"AC Power", "-c"}, {"Battery Power", "-b"}, {"UPS Power", "-u"}};
    std::optional<std::int64_t> index = numberFromConfigAndKey(&parameters, kSourceKey);
    if (!index || *index < 0 || *index > 2) {
        wstrnl("\t*** Error: invalid power source.");
        return -1;
    }
    const Source& source = kSources[*index];
    const plist::Value* profile = valueOf(parameters, kProfileKey);
    if (profile == nullptr || !profile->isDictionary()) {
        // Nothing to store: the source's settings stay as they are.
        wstrnl("\t*** Error: invalid power management profile.");
        return -1;
    }

    plist::Dictionary settings =
        dictionaryAtPath(std::string(kPowerManagementPath)).value_or(plist::Dictionary{});
    plist::Value& custom = settings[kCustomProfileKey];
    if (!custom.isDictionary()) custom = plist::Value(plist::Dictionary{});
    (*custom.asDictionary())[source.name] = *profile;
    writeDictionaryToPath(&settings, std::string(kPowerManagementPath));

    std::optional<std::string> output;
    executeAndWaitForTask("/usr/bin/pmset", {"pmset", source.flag, "-1"}, &output);
    showToolOutput(output);
    return 0;
}

int setSystemStartupMode(const plist::Dictionary& parameters) {
    const plist::Value* value = valueOf(parameters, kStartupModeKey);
    const std::string* mode = value ? value->asString() : nullptr;
    if (mode == nullptr) {
        // Setting "boot-args" to something the caller did not give would
        // change how the machine starts.
        wstrnl("\t*** Error: no startup mode.");
        return -1;
    }
    printf("\tboot-args=%s\n", mode->c_str());
    forkToTask("/usr/sbin/nvram", {"nvram", "boot-args=" + *mode});
    return -1;
}
