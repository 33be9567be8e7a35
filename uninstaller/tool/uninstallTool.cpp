// uninstallTool: the privileged half of the uninstaller, started as root with
// no arguments. It moves a relocated swap volume back to the startup volume
// (as the executor's swap operation does on its way back), removes the suite's
// system-wide files, and ends its output with "EXIT: " and its result:
// 0 done, -1 done with the swap volume put back (a restart is due), else an
// error number. The whole output stays below 2048 bytes, the reader's buffer.

#include <sys/mman.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "Utilities.h"
#include "fs/remove.h"
#include "host/root.h"
#include "operations/Swap.h"

namespace {

// Room for the result line after the report, within the reader's 2047 bytes.
constexpr std::size_t kMaxReport = 1900;
constexpr std::size_t kMaxRevertReport = 1024;

constexpr const char* kPagerDaemon = "/System/Library/LaunchDaemons/com.apple.dynamic_pager.plist";
constexpr const char* kDisabledPagerDaemon =
    "/System/Library/LaunchDaemons/disabled/com.apple.dynamic_pager.plist";
constexpr const char* kStartDaemon =
    "/System/Library/LaunchDaemons/com.kvxlabs.dynamic_pager_start.plist";
constexpr const char* kInstalledTool = "/sbin/kvx_dynamic_pager_start";

// The executor's authorization rules and the records of authorizations.
constexpr const char* kSystemWideItems[] = {"/private/etc/kvx-authorization.plist",
                                            "/private/var/db/kvx-auth"};

constexpr int kRevertFailed = -36;  // ioErr: the way back failed without a code of its own

bool exists(const char* machinePath) {
    return fileOrDirectoryExistsAtPath(machinePath, false);
}

std::string errorText(int error) {
    return std::string(strerror(error)) + " (" + std::to_string(error) + ")";
}

// Runs fn with standard output going into memory and returns what it wrote;
// when that cannot be arranged fn writes straight to standard output.
template <typename F>
std::string captureOutput(F&& fn) {
    fflush(stdout);
    int memory = memfd_create("uninstallTool", MFD_CLOEXEC);
    int saved = memory >= 0 ? dup(STDOUT_FILENO) : -1;
    if (saved < 0 || dup2(memory, STDOUT_FILENO) < 0) {
        if (saved >= 0) close(saved);
        if (memory >= 0) close(memory);
        fn();
        fflush(stdout);
        return {};
    }
    fn();
    fflush(stdout);
    std::string out;
    if (dup2(saved, STDOUT_FILENO) >= 0 && lseek(memory, 0, SEEK_SET) == 0) {
        char buf[1024];
        ssize_t n;
        while ((n = read(memory, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
            if (n > 0) out.append(buf, static_cast<size_t>(n));
    }
    close(saved);
    close(memory);
    return out;
}

// Removes what is at the path; 0, or the error that is then reported.
int removeItem(const char* machinePath, std::string& report) {
    if (!exists(machinePath)) return 0;
    report += std::string("\tRemoving ") + machinePath + "\n";
    int error = vfs::removefile(machinePath, vfs::REMOVEFILE_RECURSIVE);
    if (error == 0 || error == ENOENT) return 0;
    report += std::string("\t***Error removing ") + machinePath + ": " + errorText(error) + "\n";
    return error;
}

// 0 when nothing was relocated or it was put back; otherwise the error.
int revertSwapVolume(std::string& report, bool* reverted) {
    // A relocation in effect: the system pager is disabled or the start tool
    // is registered. A tool left alone by a relocation that stopped half way
    // is removed, but needs no restart.
    *reverted = exists(kDisabledPagerDaemon) || exists(kStartDaemon);
    if (!*reverted && !exists(kInstalledTool)) return 0;
    report += "Moving the swap volume back to the startup volume...\n";
    int status = 0;
    std::string said = captureOutput([&] {
        plist::Dictionary request;
        request["MountPoint"] = plist::Value("/");
        status = setSwapVolume(request);
    });
    if (said.size() > kMaxRevertReport) said.resize(kMaxRevertReport);
    report += said;
    if (!said.empty() && said.back() != '\n') report += '\n';
    // The way back does not check its removals; a pager left disabled or a
    // start tool left registered means the swap stays where it was.
    for (const char* left : {kStartDaemon, kInstalledTool})
        if (int error = removeItem(left, report); error != 0 && status == 0) status = error;
    if (status == 0 && !exists(kPagerDaemon)) {
        report += std::string("\t***Error: ") + kPagerDaemon + " is missing.\n";
        status = kRevertFailed;
    }
    // -1 is how success with a restart due is told; no failure may look like it.
    if (status == -1) status = kRevertFailed;
    return status;
}

int uninstall(int argc, std::string& report) {
    if (argc != 1) {
        report += "\t***Error: uninstallTool takes no arguments.\n";
        return EINVAL;
    }
    if (geteuid() != 0) {
        report += "\t***Error: uninstallTool must run as root.\n";
        return EPERM;
    }
    bool reverted = false;
    int result = revertSwapVolume(report, &reverted);
    for (const char* item : kSystemWideItems)
        if (int error = removeItem(item, report); error != 0 && result == 0) result = error;
    if (result == 0 && reverted) return -1;
    return result;
}

bool writeAll(const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = write(STDOUT_FILENO, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int main(int argc, char**) {
    std::string report;
    const int result = uninstall(argc, report);
    if (report.size() > kMaxReport) {
        report.resize(kMaxReport);
        report += "\n";
    }
    // On a machine the user is told to look in the system log for details.
    if (!host::isSandboxed() && result != 0 && result != -1)
        syslog(LOG_USER | LOG_ERR, "uninstallTool: %s", report.c_str());
    report += "EXIT: " + std::to_string(result) + "\n";
    if (!writeAll(report)) return 1;
    return result == 0 || result == -1 ? 0 : 1;
}
