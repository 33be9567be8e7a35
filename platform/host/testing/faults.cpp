#include "host/faults.h"

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

}  // namespace

int withFullDisk(const std::string& folder, std::size_t freeBytes, const std::function<int()>& fn) {
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
            _exit(100);
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
