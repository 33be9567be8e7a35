#include "host/faults.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

namespace host::testing {
namespace {

int statusOf(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool refuse(std::string* why, const std::string& what, int error) {
    if (why != nullptr) *why = what + ": " + strerror(error);
    return false;
}

// The ID of the mount that holds a path; 0 when it cannot be read.
std::uint64_t mountIdOf(const std::string& path) {
    struct statx st {};
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &st) != 0) return 0;
    return (st.stx_mask & STATX_MNT_ID) ? st.stx_mnt_id : 0;
}

}  // namespace

bool enterPrivateMountNamespace(const std::string& folder, std::string* why) {
    if (unshare(CLONE_NEWNS) != 0) return refuse(why, "unshare(CLONE_NEWNS)", errno);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) return true;
    if (errno != EINVAL) return refuse(why, "making / private", errno);
    // "/" is no mount point (a chroot): the folder becomes a mount of its
    // own, and what is mounted on or below it then stays here.
    if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        return refuse(why, "binding " + folder + " onto itself", errno);
    if (mount(nullptr, folder.c_str(), nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return refuse(why, "making " + folder + " private", errno);
    return true;
}

const std::string& mountNamespaceRefusal() {
    static const std::string reason = []() -> std::string {
        const char* tmp = getenv("TMPDIR");
        std::string folder = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") +
                             "/varno-namespace-probe-XXXXXX";
        if (mkdtemp(folder.data()) == nullptr) return std::string("mkdtemp: ") + strerror(errno);
        const std::uint64_t before = mountIdOf(folder);
        int report[2], finish[2];
        if (pipe2(report, O_CLOEXEC) != 0 || pipe2(finish, O_CLOEXEC) != 0)
            return std::string("pipe: ") + strerror(errno);
        const pid_t pid = fork();
        if (pid < 0) return std::string("fork: ") + strerror(errno);
        if (pid == 0) {
            close(report[0]);
            close(finish[1]);
            std::string why;
            if (!enterPrivateMountNamespace(folder, &why)) why = "!" + why;
            ssize_t ignored = write(report[1], why.data(), why.size());
            (void)ignored;
            close(report[1]);
            char byte;
            ignored = read(finish[0], &byte, 1);  // stay until the parent has looked
            _exit(0);
        }
        close(report[1]);
        close(finish[0]);
        std::string why;
        char buffer[512];
        ssize_t n;
        while ((n = read(report[0], buffer, sizeof buffer)) > 0)
            why.append(buffer, static_cast<std::size_t>(n));
        close(report[0]);
        // A mount the child made must not show in this namespace: where the
        // mount holding the folder is shared with the machine's, it would.
        if (why.empty() && mountIdOf(folder) != before) {
            umount2(folder.c_str(), MNT_DETACH);
            why = "!\"/\" is no mount point and mounts made in a namespace of its own reach "
                  "the machine's";
        }
        close(finish[1]);
        const int status = statusOf(pid);
        rmdir(folder.c_str());
        if (why.empty() && status != 0) why = "!the probe ended with status " + std::to_string(status);
        return why.empty() ? why : "no private mount namespace here: " + why.substr(1);
    }();
    return reason;
}

bool mountReadOnly(const std::string& folder, std::string* why) {
    if (!enterPrivateMountNamespace(folder, why)) return false;
    if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return refuse(why, "binding " + folder, errno);
    // Flags the folder's mount already has are kept.
    struct statvfs st {};
    if (statvfs(folder.c_str(), &st) != 0) return refuse(why, "statvfs " + folder, errno);
    unsigned long flags = MS_REMOUNT | MS_BIND | MS_RDONLY;
    const std::pair<unsigned long, unsigned long> kept[] = {
        {ST_NOSUID, MS_NOSUID},   {ST_NODEV, MS_NODEV},           {ST_NOEXEC, MS_NOEXEC},
        {ST_NOATIME, MS_NOATIME}, {ST_NODIRATIME, MS_NODIRATIME}, {ST_RELATIME, MS_RELATIME}};
    for (const auto& [has, keep] : kept)
        if (st.f_flag & has) flags |= keep;
    if (mount(nullptr, folder.c_str(), nullptr, flags, nullptr) != 0)
        return refuse(why, "making " + folder + " read-only", errno);
    return true;
}

int withFullDisk(const std::string& folder, std::size_t freeBytes, const std::function<int()>& fn) {
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (!enterPrivateMountNamespace(folder, nullptr)) _exit(100);
        // Keep what is there: copy it onto the small file system.
        std::error_code ec;
        const std::filesystem::path saved = folder + ".saved";
        std::filesystem::copy(folder, saved, std::filesystem::copy_options::recursive, ec);
        if (ec) _exit(101);
        if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=256k") != 0) _exit(102);
        std::filesystem::copy(saved, folder, std::filesystem::copy_options::recursive, ec);
        if (ec) _exit(103);
        // Fill it up, then give back the bytes the writer may have.
        const std::string filler = folder + "/.filler";
        {
            std::ofstream out(filler, std::ios::binary);
            const std::string block(4096, 'x');
            while (out.write(block.data(), static_cast<std::streamsize>(block.size()))) out.flush();
        }
        const auto size = std::filesystem::file_size(filler, ec);
        if (ec || size < freeBytes) _exit(104);
        std::filesystem::resize_file(filler, size - freeBytes, ec);
        if (ec) _exit(105);
        const int status = fn();
        std::filesystem::remove(filler, ec);
        _exit(status);
    }
    return statusOf(pid);
}

KillReport killWhileWriting(int rounds, std::chrono::microseconds maxPause,
                            const std::function<void(int)>& write,
                            const std::function<std::string()>& check, unsigned seed) {
    KillReport report;
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> pause(0, std::max<long long>(maxPause.count(), 0));
    for (int round = 0; round < rounds; ++round) {
        pid_t pid = fork();
        if (pid < 0) {
            report.failures.push_back("round " + std::to_string(round) + ": fork failed");
            break;
        }
        if (pid == 0) {
            for (int i = 0;; ++i) write(i);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        kill(pid, SIGKILL);
        if (statusOf(pid) == 128 + SIGKILL) ++report.killed;
        const std::string problem = check();
        if (!problem.empty())
            report.failures.push_back("round " + std::to_string(round) + ": " + problem);
    }
    return report;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace host::testing
