#include "PagerStart.h"

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

bool volume_mounted(const char* text) {
    std::string output = runForOutput(kMount, {"mount"});
    return strstr(output.c_str(), text) != nullptr;
}

int create_swap_dir(const char* path) {
    std::string leaf;
    int parent = vfs::openParentFolder(path, &leaf);
    int made = parent < 0 ? -1 : mkdirat(parent, leaf.c_str(), kSwapFolderMode);
    if (made == 0) {
        dpw_logf("Created new swap directory at %s", path);
    } else if (errno != EEXIST) {
        int error = errno;
        if (parent >= 0) close(parent);
        dpw_logf("Error creating directory %s: %s (%d)", path, strerror(error), error);
        return -1;
    }
    // The folder is set up through a descriptor that cannot have followed a
    // link planted in its place.
    int folder = openat(parent, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int error = errno;
    close(parent);
    if (folder < 0 || fchown(folder, 0, 0) != 0) {
        if (folder >= 0) error = errno;
        if (folder >= 0) close(folder);
        dpw_logf("Error setting owner and group on %s: %s (%d)", path, strerror(error), error);
        return -1;
    }
    if (fchmod(folder, kSwapFolderMode) != 0) {
        error = errno;
        close(folder);
        dpw_logf("Error setting mode on %s: %s (%d)", path, strerror(error), error);
        return -1;
    }
    close(folder);
    return 0;
}
