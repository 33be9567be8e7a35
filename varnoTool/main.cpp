// varnoTool: performs one maintenance operation as the superuser per run.
//
// Roles: the root executor (effective user 0), the forwarder (not root: it
// relaunches this file with privileges and relays its input), and the
// self-repair child ("--self-repair", started by the forwarder), which makes
// this file owned by root and set-user-ID before doing the request.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Dispatch.h"
#include "Protocol.h"
#include "Request.h"
#include "auth/authorization.h"
#include "host/root.h"
#include "host/self.h"

extern char** environ;

namespace {

constexpr const char* kRightName = "com.kvxlabs.Varno.authExec";
constexpr const char* kSelfRepairArgument = "--self-repair";

// A privileged run must not hand anything its caller chose to the tools it
// starts as root: descriptors above 2 are closed and the environment is
// rebuilt from a short allow-list with a fixed PATH. Only the self-repair
// child keeps the privileged launch's hand-over variable, and only until it
// has taken the reference.
void sanitizeProcess(bool selfRepairChild) {
    close_range(3, ~0U, 0);

    std::string root = host::systemRoot();
    const char* reference = getenv(auth::kPrivilegedReferenceVariable);
    std::string keptReference = reference && selfRepairChild ? reference : "";
    bool requireSandbox = getenv("VARNO_REQUIRE_SANDBOX") != nullptr && getauxval(AT_SECURE) == 0;

    clearenv();
    setenv("PATH", "/usr/bin:/bin:/usr/sbin:/sbin", 1);
    if (root != "/") setenv("VARNO_SYSTEM_ROOT", root.c_str(), 1);
    if (!keptReference.empty())
        setenv(auth::kPrivilegedReferenceVariable, keptReference.c_str(), 1);
    if (requireSandbox) setenv("VARNO_REQUIRE_SANDBOX", "1", 1);
    umask(022);
}

[[noreturn]] void finish(int status) {
    fflush(stdout);
    fflush(stderr);
    exit(status);
}

// Opens our own file with an exclusive lock that fails at once when another
// process holds it. Returns the descriptor or -1 with errno set.
int openLockedExclusive(const char* path) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

// The repair's lock: a root-only file beside our own, so that no one else
// can hold it (anyone may read, and so lock, the executable itself). It is
// left in place; removing it would let two holders lock different files.
// Returns the locked descriptor, or -1 with errno set.
int lockRepair(const char* pathToSelf) {
    std::string path(pathToSelf);
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string name = "." + path.substr(slash == std::string::npos ? 0 : slash + 1) + ".repair";
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return -1;
    int fd =
        openat(dir, name.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    int saved = errno;
    close(dir);
    if (fd < 0) {
        errno = saved;
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != 0 || (st.st_mode & 077) != 0 ||
        st.st_nlink != 1) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

void selfRepair(const char* pathToSelf, auth::AuthorizationRef* authorization) {
    auth::OSStatus status =
        auth::AuthorizationCopyPrivilegedReference(authorization, auth::kAuthorizationFlagDefaults);
    unsetenv(auth::kPrivilegedReferenceVariable);
    if (status != 0) {
        printf("Error %ld copying privelage reference\n", static_cast<long>(status));
        finish(14);
    }
    int lock = lockRepair(pathToSelf);
    int fd = lock < 0 ? -1 : open(pathToSelf, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        printf("Exclusive open failed in self-repair mode: %s (%d)\n", strerror(errno), errno);
        finish(15);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        printf("Error in fstat(): %s (%d)\n", strerror(errno), errno);
        finish(16);
    }
    if (st.st_uid != 0) (void)!fchown(fd, 0, static_cast<gid_t>(-1));
    // Clear set-user-ID, group write and other write, then set set-user-ID.
    (void)!fchmod(fd, (st.st_mode & 0173755 & 07777) | 04000);
    close(fd);
    close(lock);
}

// Copies the caller's remaining input to the privileged child and the
// child's output back to our caller, both at once so that neither side can
// fill the other's buffer and stall.
void relay(int stream) {
    bool inputOpen = true;
    bool outputOpen = true;
    std::vector<char> pending;
    char buffer[1024];
    while (outputOpen) {
        struct pollfd fds[2];
        nfds_t n = 0;
        fds[n++] = {stream, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0};
        if (inputOpen && pending.empty()) fds[n++] = {0, POLLIN, 0};
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (n == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t got = read(0, buffer, sizeof buffer);
            if (got > 0) {
                pending.assign(buffer, buffer + got);
            } else if (got == 0 || errno != EINTR) {
                inputOpen = false;
                shutdown(stream, SHUT_WR);  // the child sees the end of its input
            }
        }
        if (!pending.empty() && (fds[0].revents & POLLOUT)) {
            ssize_t put = write(stream, pending.data(), pending.size());
            if (put > 0) {
                pending.erase(pending.begin(), pending.begin() + put);
            } else if (put < 0 && errno != EINTR && errno != EAGAIN) {
                pending.clear();
                inputOpen = false;
                shutdown(stream, SHUT_WR);
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t got = read(stream, buffer, sizeof buffer);
            if (got > 0) {
                for (ssize_t off = 0; off < got;) {
                    ssize_t put = write(1, buffer + off, static_cast<size_t>(got - off));
                    if (put < 0 && errno == EINTR) continue;
                    if (put <= 0) break;
                    off += put;
                }
            } else if (got == 0 || errno != EINTR) {
                outputOpen = false;
            }
        }
    }
}

[[noreturn]] void forward(const char* pathToSelf, const auth::Authorization& authorization) {
    int fd = openLockedExclusive(pathToSelf);
    if (fd < 0) {
        printf("Exclusive open failed: %s (%d)\n", strerror(errno), errno);
    } else {
        struct stat st {};
        if (fstat(fd, &st) != 0) {
            printf("Error checking suid bit: %s (%d)\n", strerror(errno), errno);
        } else if (st.st_mode & 04000) {
            (void)!fchmod(fd, st.st_mode & 07777 & ~04000);
        }
        close(fd);
    }

    FILE* stream = nullptr;
    auth::OSStatus status = auth::AuthorizationExecuteWithPrivileges(
        authorization, pathToSelf, auth::kAuthorizationFlagDefaults, {kSelfRepairArgument},
        &stream);
    if (status != 0)
        printf("Error %ld in AuthorizationExecuteWithPrivileges\n", static_cast<long>(status));
    if (stream != nullptr) {
        // A child that ends early must not take the forwarder down with it;
        // its status is what the caller needs.
        signal(SIGPIPE, SIG_IGN);
        fflush(stream);
        relay(fileno(stream));
        fclose(stream);
    }

    int childStatus = 0;
    pid_t pid;
    while ((pid = wait(&childStatus)) < 0 && errno == EINTR) {
    }
    if (pid > 0 && WIFEXITED(childStatus)) finish(WEXITSTATUS(childStatus));
    puts("Error waiting for self-repair child process");
    finish(13);
}

}  // namespace

// Fills buffer with our own executable's path. Returns 0, or -1 with the
// required size in *bufsize when the buffer is too small.
int MyGetExecutablePath(char* buffer, uint32_t* bufsize) {
    const std::optional<std::string> exe = host::executablePath();
    if (!exe) return -1;
    if (exe->size() + 1 > *bufsize) {
        *bufsize = static_cast<uint32_t>(exe->size() + 1);
        return -1;
    }
    memcpy(buffer, exe->c_str(), exe->size() + 1);
    return 0;
}

int main(int argc, char* argv[]) {
    bool selfRepairMode = argc == 2 && strcmp(argv[1], kSelfRepairArgument) == 0;
    // Privileges gained from the set-user-ID bit, or handed over by the
    // privileged launch.
    if ((geteuid() == 0 && getuid() != 0) || selfRepairMode) sanitizeProcess(selfRepairMode);

    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);

    uint32_t pathSize = 1024;
    char* pathToSelf = static_cast<char*>(malloc(pathSize));
    if (pathToSelf == nullptr) {
        wstrnl("Error allocating path_to_self");
        finish(22);
    }
    if (MyGetExecutablePath(pathToSelf, &pathSize) == -1) {
        char* grown = static_cast<char*>(realloc(pathToSelf, pathSize + 1));
        if (grown == nullptr) {
            puts("Error reallocating path_to_self");
            finish(12);
        }
        pathToSelf = grown;
        pathSize += 1;
        if (MyGetExecutablePath(pathToSelf, &pathSize) != 0) {
            puts("Can't get path_to_self");
            finish(13);
        }
    }

    auth::AuthorizationRef authorization;
    if (selfRepairMode) {
        selfRepair(pathToSelf, &authorization);
    } else {
        auth::AuthorizationExternalForm form;
        errno = 0;
        if (readFully(0, form.bytes.data(), form.bytes.size()) != form.bytes.size()) {
            printf("Error reading externalAuthorizationRef: %s (%d)\n", strerror(errno), errno);
            finish(17);
        }
        auth::OSStatus status = auth::AuthorizationCreateFromExternalForm(form, &authorization);
        if (status != 0) {
            printf("Error %ld creating authorizationRef from external form\n",
                   static_cast<long>(status));
            finish(18);
        }
        if (geteuid() != 0) forward(pathToSelf, *authorization);
    }

    free(pathToSelf);
    auth::AuthorizationRights rights{{kRightName, "", 0}};
    auth::OSStatus status = auth::AuthorizationCopyRights(
        *authorization, rights,
        auth::kAuthorizationFlagInteractionAllowed | auth::kAuthorizationFlagExtendRights);
    if (status != 0) {
        printf("Error %ld authorizing.", static_cast<long>(status));
        finish(status);
    }

    uint64_t length = 0;
    errno = 0;
    if (readFully(0, &length, sizeof length) != sizeof length) {
        wstrnl("Error reading sizeOfDict");
        finish(20);
    }
    if (length > kMaxRequestLength) {
        errno = EFBIG;
        printf("Error reading parametersDict: %s (%d)\n", strerror(errno), errno);
        finish(21);
    }
    std::string document(length, '\0');
    errno = 0;
    if (readFully(0, document.data(), document.size()) != length) {
        printf("Error reading parametersDict: %s (%d)\n", strerror(errno), errno);
        finish(21);
    }
    auto parameters = parseRequestDocument(document);
    if (!parameters) finish(22);
    document.clear();
    document.shrink_to_fit();

    finish(callExecutionFunction(*parameters));
}
