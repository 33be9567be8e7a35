// Running system tools and echoing what they printed.

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

#include "Protocol.h"
#include "Utilities.h"
#include "host/root.h"

namespace utilities_seams {
PrivilegeCalls privilegeCalls = {::setgroups, ::setresgid, ::setresuid};
}  // namespace utilities_seams

namespace {

constexpr std::size_t kCaptureBufferSize = kTaskCaptureLimit + 1;

// Who the tool runs as, worked out before the fork so the child only makes
// system calls.
struct Identity {
    bool known = false;
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};

Identity identityFor(uid_t uid) {
    Identity id;
    id.uid = uid;
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return id;
    id.gid = found->pw_gid;
    int count = 64;
    id.groups.resize(static_cast<size_t>(count));
    if (getgrouplist(found->pw_name, found->pw_gid, id.groups.data(), &count) < 0) {
        id.groups.resize(static_cast<size_t>(count));
        if (getgrouplist(found->pw_name, found->pw_gid, id.groups.data(), &count) < 0) return id;
    }
    id.groups.resize(static_cast<size_t>(count));
    id.known = true;
    return id;
}

// In the child: becomes the user completely, or reports failure. As root the
// supplementary groups, the group and then the user are all replaced; without
// privileges the only possible change is to one of the IDs already held.
bool becomeUser(const Identity& id) {
    const auto& calls = utilities_seams::privilegeCalls;
    uid_t ruid, euid, suid;
    gid_t rgid, egid, sgid;
    if (geteuid() == 0) {
        if (!id.known) return false;
        if (calls.setgroups(id.groups.size(), id.groups.data()) != 0) return false;
        if (calls.setresgid(id.gid, id.gid, id.gid) != 0) return false;
        if (calls.setresuid(id.uid, id.uid, id.uid) != 0) return false;
        if (getresgid(&rgid, &egid, &sgid) != 0 || rgid != id.gid || egid != id.gid ||
            sgid != id.gid)
            return false;
    } else if (calls.setresuid(id.uid, id.uid, id.uid) != 0) {
        return false;
    }
    if (getresuid(&ruid, &euid, &suid) != 0 || ruid != id.uid || euid != id.uid || suid != id.uid)
        return false;
    // Nothing may be left to regain root with.
    if (id.uid != 0 && setuid(0) == 0) return false;
    return true;
}

// The descriptor of an opened program keeps this number in the child.
constexpr int kProgramFd = 3;

[[noreturn]] void runChild(int outFd, const Identity& id, const std::string& realPath,
                           int programFd, char* const* argv, int openMax) {
    if (!becomeUser(id)) _exit(kTaskDropFailedStatus);
    if (outFd == STDOUT_FILENO) {
        if (fcntl(outFd, F_SETFD, 0) != 0) _exit(kTaskExecFailedStatus);
    } else if (dup2(outFd, STDOUT_FILENO) < 0) {
        _exit(kTaskExecFailedStatus);
    }
    int firstClosed = 3;
    if (programFd >= 0) {
        if (dup2(programFd, kProgramFd) < 0 || fcntl(kProgramFd, F_SETFD, FD_CLOEXEC) != 0)
            _exit(kTaskExecFailedStatus);
        firstClosed = kProgramFd + 1;
    }
    // Descriptors the executor opened as root are not the tool's to use.
    if (close_range(static_cast<unsigned>(firstClosed), ~0U, 0) != 0) {
        for (int fd = firstClosed; fd < openMax; ++fd) close(fd);
    }
    // Tools expect the default: a closed pipe ends them.
    signal(SIGPIPE, SIG_DFL);
    if (programFd >= 0)
        fexecve(kProgramFd, argv, environ);
    else
        execv(realPath.c_str(), argv);
    _exit(kTaskExecFailedStatus);
}

std::vector<char*> argumentVector(std::vector<std::string>& strings) {
    std::vector<char*> argv;
    for (std::string& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    return argv;
}

// Runs the program at realPath, or the one open at programFd, and captures
// what it prints as bytes.
int runTaskBytes(const std::string& realPath, int programFd, const std::vector<std::string>& argv,
                 std::string* output, uid_t userID, int* exitStatus) {
    if (output != nullptr) output->clear();
    if (exitStatus != nullptr) *exitStatus = -1;
    if (argv.empty()) return -1;
    std::vector<std::string> strings = argv;
    std::vector<char*> args = argumentVector(strings);
    const Identity id = identityFor(userID);
    std::vector<char> buffer(kCaptureBufferSize, '\0');
    const int openMax = getdtablesize();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;

    fflush(nullptr);  // nothing buffered is written twice
    pid_t pid = fork();
    if (pid < 0) exit(17);
    if (pid == 0) runChild(fds[1], id, realPath, programFd, args.data(), openMax);

    close(fds[1]);
    std::size_t used = 0;
    while (used < kTaskCaptureLimit) {
        ssize_t n = read(fds[0], buffer.data() + used, kTaskCaptureLimit - used);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        used += static_cast<std::size_t>(n);
    }
    close(fds[0]);  // output beyond the limit is not read; the tool sees a closed pipe

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            status = -1;
            break;
        }
    }
    if (exitStatus != nullptr && status != -1)
        *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (output != nullptr) output->assign(buffer.data(), strnlen(buffer.data(), used));
    return 0;
}

int runTask(const std::string& realPath, int programFd, const std::vector<std::string>& argv,
            std::optional<std::string>* output, uid_t userID, int* exitStatus) {
    if (output != nullptr) *output = std::nullopt;
    std::string bytes;
    int result = runTaskBytes(realPath, programFd, argv, output != nullptr ? &bytes : nullptr,
                              userID, exitStatus);
    if (result == 0 && output != nullptr) *output = cfStringFromUTF8String(bytes.c_str());
    return result;
}

}  // namespace

int executeAndWaitForTaskBytes(const char* path, const std::vector<std::string>& argv,
                               std::string* output, uid_t userID, int* exitStatus) {
    if (path == nullptr) {
        if (output != nullptr) output->clear();
        if (exitStatus != nullptr) *exitStatus = -1;
        return -1;
    }
    return runTaskBytes(host::realPath(path), -1, argv, output, userID, exitStatus);
}

int executeAndWaitForTaskWithUserID(const char* path, const std::vector<std::string>& argv,
                                    std::optional<std::string>* output, uid_t userID,
                                    int* exitStatus) {
    if (path == nullptr) {
        if (output != nullptr) *output = std::nullopt;
        if (exitStatus != nullptr) *exitStatus = -1;
        return -1;
    }
    return runTask(host::realPath(path), -1, argv, output, userID, exitStatus);
}

int executeAndWaitForTaskFromDescriptor(int fd, const std::vector<std::string>& argv,
                                        std::optional<std::string>* output, int* exitStatus) {
    if (fd < 0) return -1;
    return runTask(std::string(), fd, argv, output, getuid(), exitStatus);
}

int executeAndWaitForTask(const char* path, const std::vector<std::string>& argv,
                          std::optional<std::string>* output, int* exitStatus) {
    return executeAndWaitForTaskWithUserID(path, argv, output, getuid(), exitStatus);
}

int forkToTask(const char* path, const std::vector<std::string>& argv) {
    if (path == nullptr || argv.empty()) return -1;
    std::vector<std::string> strings = argv;
    std::vector<char*> args = argumentVector(strings);
    fflush(nullptr);
    execv(host::realPath(path).c_str(), args.data());
    return -1;
}

void printLinesIndented(const std::optional<std::string>& text,
                        const std::optional<std::string>& prefix) {
    if (!text) return;
    std::string_view rest = *text;
    for (;;) {
        size_t newline = rest.find('\n');
        bool last = newline == std::string_view::npos;
        std::string_view piece = rest.substr(0, newline);
        if (!piece.empty()) {
            std::string line("\t");
            line += prefix.value_or("");
            line += displayFormByLine(piece);
            // An overlong line is cut, at a character boundary, and keeps its end of line.
            std::size_t room = kMaxIndentedLine - (last ? 0 : 1);
            if (line.size() > room) {
                std::size_t cut = room;
                while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
                line.resize(cut);
            }
            if (!last) line += '\n';
            showString(line);
        }
        if (last) break;
        rest.remove_prefix(newline + 1);
    }
}
