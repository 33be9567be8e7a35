#include "PagerStart.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "fs/open.h"
#include "host/root.h"
#include "plist/plist.h"

namespace {

constexpr const char* kDiskUtil = "/usr/sbin/diskutil";
constexpr const char* kMount = "/sbin/mount";
constexpr const char* kVsdbUtil = "/usr/sbin/vsdbutil";
constexpr mode_t kSwapFolderMode = 0755;
// Rounds of making the swap folder while someone else's keep appearing, and
// free names tried for moving one aside.
constexpr int kSwapFolderAttempts = 3;
constexpr int kMoveAsideNames = 100;

// A child that cannot be made leaves the tool unable to do its work.
constexpr int kNoChildStatus = 255;

// Runs the tool with its standard output on a pipe and returns what it wrote,
// up to the first zero byte and at most kCommandOutputBufferSize - 1 bytes.
// The child is not waited for here.
std::string runForOutput(const char* machinePath, std::vector<const char*> argv) {
    argv.push_back(nullptr);
    const std::string real = host::realPath(machinePath);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        printf("Error creating a pipe for %s: %s (%d)\n", machinePath, strerror(errno), errno);
        return std::string();
    }
    pid_t pid = vfork();
    if (pid < 0) {
        printf("Error starting %s: %s (%d)\n", machinePath, strerror(errno), errno);
        exit(kNoChildStatus);
    }
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        execv(real.c_str(), const_cast<char* const*>(argv.data()));
        _exit(0);
    }
    close(fds[1]);
    char buffer[kCommandOutputBufferSize];
    memset(buffer, 0, sizeof buffer);
    std::size_t used = 0;
    while (used < sizeof buffer - 1) {
        ssize_t n = read(fds[0], buffer + used, sizeof buffer - 1 - used);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        used += static_cast<std::size_t>(n);
    }
    close(fds[0]);
    reapFinishedChildren();
    return std::string(buffer);
}

// A wait given in the environment, honoured only when it is shorter.
unsigned shortenedWait(const char* variable, unsigned standard) {
    if (!host::isSandboxed()) return standard;
    const char* text = secure_getenv(variable);
    if (text == nullptr || *text == '\0') return standard;
    char* end = nullptr;
    errno = 0;
    unsigned long value = strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || text[0] == '-' || value > standard) return standard;
    return static_cast<unsigned>(value);
}

// The mount point of a line of the mount list, "NODE on POINT (TYPE, ...)";
// nothing for a line of another form, or one cut short.
std::optional<std::string> mountPointOfLine(const std::string& line) {
    const std::size_t on = line.find(" on ");
    const std::size_t open = line.rfind(" (");
    if (on == std::string::npos || open == std::string::npos || open < on + 4 || line.back() != ')')
        return std::nullopt;
    return line.substr(on + 4, open - on - 4);
}

// A folder whose entries no one but root can rename or replace: root's, and
// writable by others only with the sticky bit.
bool onlyRootChangesEntries(const struct stat& st) {
    return st.st_uid == 0 && ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX));
}

// Opens a machine folder one component at a time from the system root,
// never following a link. With rootOnly every folder on the way, the last
// included, must be one only root changes (else EPERM).
int openWithoutLinks(const std::string& machinePath, bool rootOnly = false) {
    int folder = open(host::systemRoot().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::size_t start = 0;
    while (folder >= 0) {
        if (rootOnly) {
            struct stat st {};
            if (fstat(folder, &st) != 0 || !onlyRootChangesEntries(st)) {
                close(folder);
                errno = EPERM;
                return -1;
            }
        }
        start = machinePath.find_first_not_of('/', start);
        if (start == std::string::npos) break;
        std::size_t end = machinePath.find('/', start);
        if (end == std::string::npos) end = machinePath.size();
        const std::string name = machinePath.substr(start, end - start);
        start = end;
        if (name == ".") continue;
        if (name == "..") {
            close(folder);
            errno = EINVAL;
            return -1;
        }
        int next = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int error = errno;
        close(folder);
        errno = error;
        folder = next;
    }
    return folder;
}

// True when the open folder is the root of a mounted file system.
bool isMountRoot(int folder) {
#ifdef STATX_ATTR_MOUNT_ROOT
    struct statx stx {};
    if (statx(folder, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &stx) == 0 &&
        (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
        return (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#endif
    struct stat self {
    }, up{};
    if (fstat(folder, &self) != 0 || fstatat(folder, "..", &up, 0) != 0) return false;
    return self.st_dev != up.st_dev || self.st_ino == up.st_ino;
}

// "swapfile" followed by its number, as the pager names its files.
bool isSwapFileName(const char* name) {
    const std::size_t prefix = strlen(kSwapFilePrefix);
    if (strncmp(name, kSwapFilePrefix, prefix) != 0 || name[prefix] == '\0') return false;
    for (const char* c = name + prefix; *c != '\0'; ++c)
        if (*c < '0' || *c > '9') return false;
    return true;
}

// True when the folder holds nothing but the pager's own swap files: root's
// regular files with no other name.
bool holdsOnlySwapFiles(int folder) {
    int listing = dup(folder);
    DIR* entries = listing < 0 ? nullptr : fdopendir(listing);
    if (entries == nullptr) {
        if (listing >= 0) close(listing);
        return false;
    }
    bool only = true;
    while (struct dirent* entry = readdir(entries)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        struct stat st {};
        only = isSwapFileName(entry->d_name) &&
               fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISREG(st.st_mode) && st.st_uid == 0 && st.st_nlink == 1;
        if (!only) break;
    }
    closedir(entries);
    return only;
}

// Renames what stands at the swap folder's name to a free name beside it,
// so that its owner keeps it and the tool can make a folder of its own.
int moveAside(int parent, const std::string& leaf, const char* path, const char* reason) {
    for (int n = 1; n <= kMoveAsideNames; ++n) {
        std::string aside = leaf + ".moved-aside";
        if (n > 1) aside += "-" + std::to_string(n);
        if (renameat2(parent, leaf.c_str(), parent, aside.c_str(), RENAME_NOREPLACE) == 0) {
            dpw_logf("Moved %s aside to %s.moved-aside%s: %s.", path, path,
                     n > 1 ? ("-" + std::to_string(n)).c_str() : "", reason);
            return 0;
        }
        if (errno != EEXIST) break;
    }
    int error = errno;
    dpw_logf("Error moving %s aside: %s (%d)", path, strerror(error), error);
    return -1;
}

// The swap folder being made: the path as given (for messages), its name
// and its parent, opened without links, and the folder once it is kept. A
// step that cannot go on records what it could not do and the error.
struct SwapFolder {
    const char* path = nullptr;
    std::string leaf;
    int parent = -1;
    int folder = -1;
    const char* failed = nullptr;
    int error = 0;
};

// Opens the parent of the swap folder; false (logged) when it cannot be.
bool openSwapParent(SwapFolder& swap) {
    const std::string swapFolder = vfs::normalizedMachinePath(swap.path);
    const std::size_t slash = swapFolder.rfind('/');
    swap.leaf = slash == std::string::npos ? swapFolder : swapFolder.substr(slash + 1);
    if (slash == std::string::npos || swap.leaf.empty() || swap.leaf == "." || swap.leaf == "..") {
        dpw_logf("Error creating directory %s: %s (%d)", swap.path, strerror(EINVAL), EINVAL);
        return false;
    }
    // The folders on the way must be root's alone, or someone could swap the
    // swap folder for one of their own after it has been checked.
    swap.parent = openWithoutLinks(slash == 0 ? "/" : swapFolder.substr(0, slash), true);
    if (swap.parent >= 0) return true;
    int error = errno;
    if (error == EPERM)
        dpw_logf("Error creating directory %s: a folder on its way is not root's alone.",
                 swap.path);
    else
        dpw_logf("Error creating directory %s: %s (%d)", swap.path, strerror(error), error);
    return false;
}

// Records that `what` failed with errno; closes the candidate when there is one.
void recordFailure(SwapFolder& swap, const char* what, int candidate = -1) {
    swap.error = errno;
    swap.failed = what;
    if (candidate >= 0) close(candidate);
}

// Makes the swap folder unless something stands at its name, and opens what
// stands there; -1 with the failure recorded.
int openSwapCandidate(SwapFolder& swap) {
    bool made = mkdirat(swap.parent, swap.leaf.c_str(), kSwapFolderMode) == 0;
    if (!made && errno != EEXIST) {
        recordFailure(swap, "Error creating directory");
        return -1;
    }
    if (made) dpw_logf("Created new swap directory at %s", swap.path);
    // The folder is set up through a descriptor that cannot have followed
    // a link planted in its place.
    int candidate =
        openat(swap.parent, swap.leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (candidate < 0) recordFailure(swap, "Error setting owner and group on");
    return candidate;
}

// Sets up the candidate and keeps it as the swap folder when it may be kept.
// Otherwise closes it and gives the reason to move it aside, or nullptr with
// the failure recorded.
const char* adoptSwapCandidate(SwapFolder& swap, int candidate) {
    struct stat st {};
    if (fstat(candidate, &st) != 0 || st.st_uid != 0) {
        close(candidate);
        return "it is not owned by root";
    }
    if (fchown(candidate, 0, 0) != 0) {
        recordFailure(swap, "Error setting owner and group on", candidate);
        return nullptr;
    }
    if (fchmod(candidate, kSwapFolderMode) != 0) {
        recordFailure(swap, "Error setting mode on", candidate);
        return nullptr;
    }
    // Only now that no one else can add to it does a look inside count.
    if (holdsOnlySwapFiles(candidate)) {
        swap.folder = candidate;
        return nullptr;
    }
    close(candidate);
    return "it holds files that are not the pager's swap files";
}

// Ends a failed attempt: the parent is closed before the failure is logged.
int swapFolderFailed(const SwapFolder& swap) {
    close(swap.parent);
    dpw_logf("%s %s: %s (%d)", swap.failed, swap.path, strerror(swap.error), swap.error);
    return -1;
}

}  // namespace

unsigned mountWaitSeconds() {
    return shortenedWait("VARNO_SWAP_MOUNT_WAIT_SECONDS", kMountWaitSeconds);
}

unsigned ownershipPauseSeconds() {
    return shortenedWait("VARNO_SWAP_OWNERSHIP_PAUSE_SECONDS", kOwnershipPauseSeconds);
}

void pauseSeconds(unsigned seconds) {
    struct timespec left {};
    left.tv_sec = static_cast<time_t>(seconds);
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void reapFinishedChildren() {
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
}

void dpw_log(const char* message) {
    printf("%s\n", message);
    int fd = vfs::openMachinePath(kPagerStartLog, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, 0644);
    if (fd < 0) {
        printf("Error opening log file.\n");
        return;
    }
    char stamp[kTimeStampBufferSize];
    time_t now = time(nullptr);
    struct tm local {};
    if (localtime_r(&now, &local) == nullptr ||
        strftime(stamp, sizeof stamp, "%d/%m/%y %I:%M:%S %p", &local) == 0) {
        printf("Error in strftime.\n");
        stamp[0] = '\0';  // the line then starts with the two spaces
    }
    // One write per line, so that lines of two runs never interleave.
    std::string line = std::string(stamp) + "  " + message + "\n";
    ssize_t written = write(fd, line.data(), line.size());
    if (written != static_cast<ssize_t>(line.size())) printf("Error writing log file.\n");
    close(fd);
}

void dpw_logf(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    char* message = nullptr;
    int length = vasprintf(&message, format, arguments);
    va_end(arguments);
    if (length < 0) {
        dpw_log(format);  // out of memory: the bare format says what happened
        return;
    }
    dpw_log(message);
    free(message);
}

bool ownership_enabled(const char* volume) {
    std::string output = runForOutput(kDiskUtil, {"diskutil", "info", "-plist", volume});
    printf("results:\n------%s\n------\n", output.c_str());
    if (output.empty()) {
        printf("Error getting diskutil results.\n");
        return false;
    }
    std::optional<plist::Value> info = plist::parse(output);
    if (!info) {
        printf("Error parsing diskutil plist.\n");
        return false;
    }
    const plist::Value* enabled = info->find("GlobalPermissionsEnabled");
    return enabled != nullptr && enabled->asBoolean().value_or(false);
}

int enable_ownership(const char* volume) {
    if (ownership_enabled(volume)) return 0;
    dpw_logf("Enabling ownership on %s", volume);
    const std::string real = host::realPath(kVsdbUtil);
    const char* argv[] = {"vsdbutil", "-a", volume, nullptr};
    pid_t pid = vfork();
    if (pid < 0) {
        printf("Error starting %s: %s (%d)\n", kVsdbUtil, strerror(errno), errno);
        exit(kNoChildStatus);
    }
    if (pid == 0) {
        execv(real.c_str(), const_cast<char* const*>(argv));
        _exit(0);
    }
    // vsdbutil is given time to finish; its result is not examined.
    pauseSeconds(ownershipPauseSeconds());
    reapFinishedChildren();
    return 0;
}

bool volume_mounted(const char* volume) {
    const std::string wanted = vfs::normalizedMachinePath(volume);
    std::string output = runForOutput(kMount, {"mount"});
    bool listed = false;
    std::size_t start = 0;
    while (start < output.size() && !listed) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::optional<std::string> mountedOn = mountPointOfLine(output.substr(start, end - start));
        listed = mountedOn && vfs::normalizedMachinePath(*mountedOn) == wanted;
        start = end + 1;
    }
    if (!listed) return false;
    // A folder of that name that is a link, or a plain folder someone made
    // beside the real mounts, is not the volume.
    int folder = openWithoutLinks(wanted);
    if (folder < 0) return false;
    bool mountRoot = !host::isSandboxed() ? isMountRoot(folder) : true;
    close(folder);
    return mountRoot;
}

int create_swap_dir(const char* path) {
    SwapFolder swap;
    swap.path = path;
    if (!openSwapParent(swap)) return -1;
    // Each round either makes the folder or moves aside what stood in its
    // place; a user who keeps putting folders back ends the tries.
    for (int attempt = 0; attempt < kSwapFolderAttempts && swap.folder < 0; ++attempt) {
        int candidate = openSwapCandidate(swap);
        if (candidate < 0) return swapFolderFailed(swap);
        const char* reason = adoptSwapCandidate(swap, candidate);
        if (swap.failed != nullptr) return swapFolderFailed(swap);
        if (reason != nullptr && moveAside(swap.parent, swap.leaf, path, reason) != 0) break;
    }
    close(swap.parent);
    if (swap.folder < 0) {
        dpw_logf("Error creating directory %s: no folder of its own could be made there.", path);
        return -1;
    }
    close(swap.folder);
    return 0;
}
