#include "proc/sysctl.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/sysctl.h"
#include "procfs.h"

namespace proc {
namespace {

// Room a size query adds for processes that start before the real query:
// a fixed few, and more on a machine with many processes, where a busy
// moment starts more of them.
constexpr std::size_t kSlopEntries = 16;
constexpr std::size_t kSlopShare = 8;  // one more entry per this many processes
// No argument area comes near this; the cap only bounds a bad /proc read.
constexpr std::size_t kMaxAreaPart = 64 * 1024 * 1024;

int fail(int error) {
    errno = error;
    return -1;
}

char processState(char linuxState) {
    switch (linuxState) {
        case 'R':
            return SRUN;
        case 'T':
        case 't':
            return SSTOP;
        case 'Z':
        case 'X':
        case 'x':
            return SZOMB;
        default:
            return SSLEEP;
    }
}

kinfo_proc entryFor(const procfs::Status& status) {
    kinfo_proc entry{};
    entry.kp_proc.p_pid = status.pid;
    entry.kp_proc.p_stat = processState(status.state);
    strncpy(entry.kp_proc.p_comm, status.name.c_str(), MAXCOMLEN);
    entry.kp_eproc.e_ppid = status.ppid;
    entry.kp_eproc.e_pcred = {status.uid[0], status.uid[2], status.gid[0], status.gid[2]};
    entry.kp_eproc.e_ucred = {status.uid[1], status.gid[1]};
    return entry;
}

// The process's status when it is a process (not one of its threads).
std::optional<procfs::Status> processStatus(pid_t pid) {
    std::optional<procfs::Status> status = procfs::status(pid);
    if (!status || status->tgid != pid || status->pid != pid) return std::nullopt;
    return status;
}

bool selected(const procfs::Status& status, int selector, int value) {
    switch (selector) {
        case KERN_PROC_UID:
            return status.uid[1] == static_cast<uid_t>(value);
        case KERN_PROC_RUID:
            return status.uid[0] == static_cast<uid_t>(value);
        default:
            return true;
    }
}

int processTable(const int* name, unsigned namelen, void* oldp, std::size_t* oldlenp) {
    if (namelen != 3 && namelen != 4) return fail(EINVAL);
    int selector = name[2];
    if (selector != KERN_PROC_ALL &&
        (namelen != 4 ||
         (selector != KERN_PROC_PID && selector != KERN_PROC_UID && selector != KERN_PROC_RUID)))
        return fail(EINVAL);
    int value = namelen == 4 ? name[3] : 0;
    if (oldlenp == nullptr) return fail(EINVAL);

    std::vector<pid_t> ids;
    if (selector == KERN_PROC_PID) {
        if (value > 0) ids.push_back(value);
    } else {
        ids = procfs::processIDs();
    }
    if (oldp == nullptr) {
        std::size_t count = ids.size();
        if (selector == KERN_PROC_PID)
            count = !ids.empty() && processStatus(ids[0]) ? 1 : 0;
        else
            count += kSlopEntries + count / kSlopShare;
        *oldlenp = count * sizeof(kinfo_proc);
        return 0;
    }
    std::size_t room = *oldlenp / sizeof(kinfo_proc);
    std::size_t filled = 0;
    for (pid_t pid : ids) {
        std::optional<procfs::Status> status = processStatus(pid);
        if (!status || !selected(*status, selector, value)) continue;
        if (filled == room) {
            *oldlenp = filled * sizeof(kinfo_proc);
            return fail(ENOMEM);
        }
        kinfo_proc entry = entryFor(*status);
        memcpy(static_cast<char*>(oldp) + filled * sizeof(kinfo_proc), &entry, sizeof entry);
        ++filled;
    }
    *oldlenp = filled * sizeof(kinfo_proc);
    return 0;
}

// The argument area in the platform's layout, built from what /proc keeps.
int argumentArea(const int* name, unsigned namelen, bool withCount, void* oldp,
                 std::size_t* oldlenp) {
    if (namelen != 3 || oldlenp == nullptr) return fail(EINVAL);
    pid_t pid = name[2];
    if (pid <= 0) return fail(EINVAL);
    // Only the superuser may read another user's arguments.
    if (geteuid() != 0) {
        std::optional<procfs::Status> status = processStatus(pid);
        if (!status || status->uid[1] != geteuid()) return fail(EINVAL);
    }
    // Assembled in one buffer kept from call to call: areas run to kilobytes,
    // and the process list asks for one per process.
    static thread_local std::string area;
    area.clear();
    if (withCount) area.append(sizeof(std::int32_t), '\0');
    char exe[4096];
    ssize_t n = readlink(procfs::procPath(pid, "exe").c_str(), exe, sizeof exe);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof exe)
        area.append(exe, static_cast<std::size_t>(n));
    area.push_back('\0');
    while (area.size() % 8 != 0) area.push_back('\0');

    std::size_t argumentsStart = area.size();
    if (!procfs::appendFile(procfs::procPath(pid, "cmdline").c_str(), kMaxAreaPart, &area) ||
        area.size() == argumentsStart)
        return fail(EINVAL);
    procfs::sawAlive(pid);
    if (area.back() != '\0') area.push_back('\0');
    if (withCount) {
        std::int32_t count = static_cast<std::int32_t>(std::count(
            area.begin() + static_cast<std::ptrdiff_t>(argumentsStart), area.end(), '\0'));
        memcpy(area.data(), &count, sizeof count);
    }

    // The environment is read only as far as the caller has room for it.
    std::size_t room =
        oldp == nullptr ? kMaxAreaPart : (*oldlenp > area.size() ? *oldlenp - area.size() : 0);
    if (room > 0) procfs::appendFile(procfs::procPath(pid, "environ").c_str(), room, &area);
    if (oldp == nullptr) {
        *oldlenp = area.size();
        return 0;
    }
    std::size_t size = std::min(area.size(), *oldlenp);
    memcpy(oldp, area.data(), size);
    *oldlenp = size;
    return 0;
}

}  // namespace

int sysctl(const int* name, unsigned namelen, void* oldp, std::size_t* oldlenp, const void* newp,
           std::size_t newlen) {
    if (name == nullptr || namelen < 2 || name[0] != CTL_KERN) return fail(ENOENT);
    if (newp != nullptr || newlen != 0) return fail(EPERM);
    switch (name[1]) {
        case KERN_OSRELEASE:
            if (namelen != 2) return fail(ENOTDIR);
            return host::sysctlbyname("kern.osrelease", oldp, oldlenp, nullptr, 0);
        case KERN_ARGMAX: {
            if (namelen != 2 || oldlenp == nullptr) return fail(namelen != 2 ? ENOTDIR : EINVAL);
            std::int64_t value = 0;
            std::size_t size = sizeof value;
            if (host::sysctlbyname("kern.argmax", &value, &size, nullptr, 0) != 0) return -1;
            std::int32_t narrow = static_cast<std::int32_t>(value);
            if (oldp != nullptr) {
                if (*oldlenp < sizeof narrow) return fail(ENOMEM);
                memcpy(oldp, &narrow, sizeof narrow);
            }
            *oldlenp = sizeof narrow;
            return 0;
        }
        case KERN_PROC:
            return processTable(name, namelen, oldp, oldlenp);
        case KERN_PROCARGS:
            return argumentArea(name, namelen, false, oldp, oldlenp);
        case KERN_PROCARGS2:
            return argumentArea(name, namelen, true, oldp, oldlenp);
        default:
            return fail(ENOENT);
    }
}

}  // namespace proc
