// kvx-authtrampoline: installed set-user-ID root beside a program that makes
// privileged launches; the auth library runs it as
//
//     kvx-authtrampoline /absolute/path/of/tool [argument ...]
//
// with the handle in KVX_AUTHORIZATION_REFERENCE, the caller's stream as
// standard input and output, and descriptor 3 open for a refusal. It trusts
// nothing the caller says beyond the handle: the record must belong to the
// real user, that user must hold "com.kvxlabs.Varno.authExec" under the
// root-owned rules, and the tool runs as root with an environment built here.
// On descriptor 3 it writes a 4-byte 0 just before it execs the tool (the
// descriptor then closes with the exec), or a refusal status before it exits 1.

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "host/root.h"
#include "internal.h"

using namespace auth;

namespace {

int statusFd = -1;

// A short write leaves the caller with a half report, which it refuses.
void report(OSStatus status) {
    if (statusFd >= 0) (void)!write(statusFd, &status, sizeof status);
}

[[noreturn]] void refuse(OSStatus status) {
    report(status);
    _exit(1);
}

// A closed standard descriptor would be handed to the next file we open.
void fillStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (open("/dev/null", O_RDWR) != fd) _exit(1);
    }
}

// Nothing the caller set up for its own process may shape the root run:
// ignored or blocked signals, a umask that leaves files writable by all, or
// limits that cut a file short half way through.
void resetProcessState() {
    umask(022);
    // SIGKILL, SIGSTOP and the C library's own signals refuse; they need no reset.
    for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
    sigset_t none;
    if (sigemptyset(&none) != 0 || sigprocmask(SIG_SETMASK, &none, nullptr) != 0)
        refuse(errAuthorizationInternal);
    for (int resource : {RLIMIT_FSIZE, RLIMIT_CPU, RLIMIT_DATA, RLIMIT_AS}) {
        struct rlimit limit = {RLIM_INFINITY, RLIM_INFINITY};
        if (setrlimit(resource, &limit) == 0) continue;
        // Without the capability to raise a hard limit, take the soft one up to it.
        if (getrlimit(resource, &limit) != 0) refuse(errAuthorizationInternal);
        limit.rlim_cur = limit.rlim_max;
        if (setrlimit(resource, &limit) != 0) refuse(errAuthorizationInternal);
    }
}

}  // namespace

int main(int argc, char** argv) {
    fillStandardDescriptors();
    if (fcntl(detail::kStatusDescriptor, F_SETFD, FD_CLOEXEC) == 0)
        statusFd = detail::kStatusDescriptor;
    if (close_range(detail::kStatusDescriptor + 1, ~0U, 0) != 0) refuse(errAuthorizationInternal);
    // Not installed set-user-ID root: nothing to offer.
    if (geteuid() != 0) refuse(errAuthorizationInternal);

    // Set-user-ID, the root comes from the sidecar beside this file, never
    // from the caller. A caller that insists on a sandbox only makes us stricter.
    const std::string root = host::systemRoot();
    const char* hex = getenv(kPrivilegedReferenceVariable);
    std::optional<detail::Handle> handle =
        hex != nullptr ? detail::handleFromHex(hex) : std::nullopt;
    const bool requireSandbox = getenv("VARNO_REQUIRE_SANDBOX") != nullptr;
    if (clearenv() != 0) refuse(errAuthorizationInternal);
    if (requireSandbox && root == "/") refuse(errAuthorizationInternal);

    if (argc < 2 || argv[1][0] != '/') refuse(errAuthorizationToolExecuteFailure);
    if (!handle) refuse(errAuthorizationInvalidRef);
    if (OSStatus status = detail::checkRecord(*handle, getuid())) refuse(status);
    std::optional<detail::Credentials> who = detail::callerCredentials();
    if (!who) refuse(errAuthorizationInternal);
    if (OSStatus status = detail::decideRights({{detail::kExecuteRight, "", 0}}, *who))
        refuse(status);

    std::vector<std::string> env = detail::privilegedEnvironment(root, *handle, requireSandbox);
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);

    resetProcessState();
    if (setgroups(0, nullptr) != 0) refuse(errAuthorizationInternal);
    if (setgid(0) != 0) refuse(errAuthorizationInternal);
    if (setuid(0) != 0) refuse(errAuthorizationInternal);
    if (getuid() != 0 || geteuid() != 0 || getgid() != 0 || getegid() != 0)
        refuse(errAuthorizationInternal);

    // Say "starting" first, so that a caller can tell our exit from the tool's.
    report(errAuthorizationSuccess);
    execve(argv[1], argv + 1, envp.data());
    refuse(errAuthorizationToolExecuteFailure);
}
