// Privileged launch. A root process starts the tool itself; any other goes
// through the set-user-ID trampoline beside its own executable, which checks
// the authorization and the right again before it becomes root.

#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "host/root.h"
#include "host/self.h"
#include "internal.h"

namespace auth::detail {

std::vector<std::string> privilegedEnvironment(const std::string& systemRoot, const Handle& handle,
                                               bool requireSandbox) {
    std::string home = "/", name = "root";
    std::vector<char> buf(4096);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(0, &entry, buf.data(), buf.size(), &found) == 0 && found != nullptr) {
        home = found->pw_dir;
        name = found->pw_name;
    }
    std::vector<std::string> env = {
        "PATH=/usr/bin:/bin:/usr/sbin:/sbin",
        "HOME=" + home,
        "USER=" + name,
        "LOGNAME=" + name,
        std::string(kPrivilegedReferenceVariable) + "=" + hexOf(handle),
    };
    if (systemRoot != "/") env.push_back("VARNO_SYSTEM_ROOT=" + systemRoot);
    if (requireSandbox) env.push_back("VARNO_REQUIRE_SANDBOX=1");
    return env;
}

}  // namespace auth::detail

namespace auth {
namespace {

using detail::Handle;

// The trampoline sits beside the calling program's own executable. The
// kernel names that file, so a caller's environment cannot redirect it.
std::optional<std::string> trampolinePath() {
    std::optional<std::string> exe = host::executablePath();
    if (!exe) return std::nullopt;
    size_t slash = exe->rfind('/');
    if (slash == std::string::npos) return std::nullopt;
    return exe->substr(0, slash + 1) + detail::kTrampolineName;
}

// Moves a new descriptor above the ones the child rearranges (0 to 3).
bool moveHigh(int* fd) {
    int high = fcntl(*fd, F_DUPFD_CLOEXEC, detail::kStatusDescriptor + 1);
    if (high < 0) return false;
    close(*fd);
    *fd = high;
    return true;
}

void closeAll(std::initializer_list<int> fds) {
    for (int fd : fds)
        if (fd >= 0) close(fd);
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// What a root caller does itself and the trampoline does for everyone else.
OSStatus checkDirectLaunch(const Handle& handle) {
    if (OSStatus status = detail::checkRecord(handle, 0)) return status;
    std::optional<detail::Credentials> who = detail::callerCredentials();
    if (!who) return errAuthorizationInternal;
    return detail::decideRights({{detail::kExecuteRight, "", 0}}, *who);
}

// Reads one 4-byte report; nullopt at the end of the channel.
std::optional<OSStatus> readReport(int fd) {
    OSStatus status = 0;
    auto* bytes = reinterpret_cast<char*>(&status);
    size_t got = 0;
    while (got < sizeof status) {
        ssize_t n = read(fd, bytes + got, sizeof status - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    if (got == 0) return std::nullopt;
    return got == sizeof status ? status : errAuthorizationInternal;
}

// The child reports 0 just before it execs the tool and a status when that
// or anything before it fails; the channel closes with a successful exec. A
// child that ends without a word has not started the tool either.
OSStatus launchOutcome(int fd) {
    std::optional<OSStatus> status = readReport(fd);
    if (!status) return errAuthorizationToolEnvironmentError;
    if (*status != errAuthorizationSuccess) return *status;
    status = readReport(fd);
    return status ? (*status != 0 ? *status : errAuthorizationInternal) : errAuthorizationSuccess;
}

// What the child execs: the tool itself for a root caller, the trampoline
// (given the tool's path first) for anyone else.
struct LaunchPlan {
    bool direct = false;
    std::string program;
    std::vector<std::string> argv, env;
};

OSStatus planLaunch(const Handle& handle, const std::string& pathToTool,
                    const std::vector<std::string>& arguments, LaunchPlan* plan) {
    plan->direct = getuid() == 0 && geteuid() == 0;
    bool requireSandbox = secure_getenv("VARNO_REQUIRE_SANDBOX") != nullptr;
    if (plan->direct) {
        if (OSStatus status = checkDirectLaunch(handle)) return status;
        plan->program = pathToTool;
        plan->env = detail::privilegedEnvironment(host::systemRoot(), handle, requireSandbox);
    } else {
        std::optional<std::string> trampoline = trampolinePath();
        if (!trampoline) return errAuthorizationToolExecuteFailure;
        plan->program = *trampoline;
        plan->argv.push_back(plan->program);
        // The trampoline rebuilds the environment; it only needs these two.
        plan->env.push_back(std::string(kPrivilegedReferenceVariable) + "=" +
                            detail::hexOf(handle));
        if (requireSandbox) plan->env.push_back("VARNO_REQUIRE_SANDBOX=1");
    }
    plan->argv.push_back(pathToTool);
    plan->argv.insert(plan->argv.end(), arguments.begin(), arguments.end());
    return errAuthorizationSuccess;
}

// The caller's end and the child's end ([0] and [1]) of the optional stream
// to the tool and of the status channel, all above the descriptors the child
// rearranges. On failure nothing stays open.
struct Channels {
    int stream[2] = {-1, -1};
    int status[2] = {-1, -1};
};

bool openChannels(bool withStream, Channels* ch) {
    if (withStream && (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ch->stream) != 0 ||
                       !moveHigh(&ch->stream[0]) || !moveHigh(&ch->stream[1]))) {
        closeAll({ch->stream[0], ch->stream[1]});
        return false;
    }
    if (pipe2(ch->status, O_CLOEXEC) != 0 || !moveHigh(&ch->status[0]) ||
        !moveHigh(&ch->status[1])) {
        closeAll({ch->stream[0], ch->stream[1], ch->status[0], ch->status[1]});
        return false;
    }
    return true;
}

// The child's side of the fork: only async-signal-safe calls, and it never
// returns. Everything it needs was built before the fork.
[[noreturn]] void execChild(const LaunchPlan& plan, const Channels& ch, char* const* argp,
                            char* const* envp) {
    int report = ch.status[1];
    bool ok = ch.stream[1] < 0 || (dup2(ch.stream[1], 0) == 0 && dup2(ch.stream[1], 1) == 1);
    if (ok && !plan.direct) {
        ok = dup2(ch.status[1], detail::kStatusDescriptor) == detail::kStatusDescriptor;
        report = detail::kStatusDescriptor;
    }
    int keep = plan.direct ? detail::kStatusDescriptor : detail::kStatusDescriptor + 1;
    if (ok) ok = close_range(static_cast<unsigned>(keep), ~0U, CLOSE_RANGE_CLOEXEC) == 0;
    // The trampoline speaks for itself; a direct launch is about to start.
    OSStatus starting = errAuthorizationSuccess;
    if (ok && plan.direct) ok = write(report, &starting, sizeof starting) == sizeof starting;
    if (ok) execve(plan.program.c_str(), argp, envp);
    OSStatus failure = ok ? errAuthorizationToolExecuteFailure : errAuthorizationInternal;
    (void)!write(report, &failure, sizeof failure);
    _exit(127);
}

// The parent's side once the child is forked: the outcome of the launch,
// and the stream handed to the caller when the tool has started.
OSStatus awaitLaunch(pid_t pid, const Channels& ch, FILE** communicationsPipe) {
    closeAll({ch.stream[1], ch.status[1]});
    if (pid < 0) {
        closeAll({ch.stream[0], ch.status[0]});
        return errAuthorizationInternal;
    }
    OSStatus result = launchOutcome(ch.status[0]);
    close(ch.status[0]);
    if (result != errAuthorizationSuccess) {
        // The child ended without starting the tool; reap it so the caller never sees it.
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        closeAll({ch.stream[0]});
        return result;
    }
    if (communicationsPipe != nullptr) {
        *communicationsPipe = fdopen(ch.stream[0], "r+");
        if (*communicationsPipe == nullptr) {
            close(ch.stream[0]);
            return errAuthorizationInternal;
        }
    }
    return errAuthorizationSuccess;
}

}  // namespace

OSStatus AuthorizationExecuteWithPrivileges(const Authorization& authorization,
                                            const std::string& pathToTool,
                                            AuthorizationFlags options,
                                            const std::vector<std::string>& arguments,
                                            FILE** communicationsPipe) {
    if (communicationsPipe != nullptr) *communicationsPipe = nullptr;
    if (options != kAuthorizationFlagDefaults) return errAuthorizationInvalidFlags;
    if (pathToTool.empty() || pathToTool[0] != '/') return errAuthorizationToolExecuteFailure;

    LaunchPlan plan;
    if (OSStatus status = planLaunch(authorization.handle, pathToTool, arguments, &plan))
        return status;
    std::vector<char*> argp = pointers(plan.argv), envp = pointers(plan.env);
    Channels channels;
    if (!openChannels(communicationsPipe != nullptr, &channels)) return errAuthorizationInternal;

    pid_t pid = fork();
    if (pid == 0) execChild(plan, channels, argp.data(), envp.data());
    return awaitLaunch(pid, channels, communicationsPipe);
}

}  // namespace auth
