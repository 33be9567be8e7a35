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
#include <optional>
#include <string>
#include <vector>

#include "Dispatch.h"
#include "Protocol.h"
#include "Request.h"
#include "auth/authorization.h"
#include "contract/executor.h"
#include "host/root.h"
#include "host/self.h"
#include "plist/display.h"

extern char** environ;

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

namespace {

constexpr const char* kSelfRepairArgument = "--self-repair";

[[noreturn]] void finish(int status) {
    fflush(stdout);
    fflush(stderr);
    exit(status);
}

// Says on standard error what could not be done, and why (errno).
void reportFailure(const std::string& what) {
    int saved = errno;
    fprintf(stderr, "Error %s: %s (%d)\n", what.c_str(), strerror(saved), saved);
}

[[noreturn]] void fail(int status, const std::string& what) {
    reportFailure(what);
    finish(status);
}

void setVariable(const char* name, const std::string& value) {
    if (setenv(name, value.c_str(), 1) != 0)
        fail(contract::kStatusNotSanitized, std::string("setting ") + name);
}

// A privileged run must not hand anything its caller chose to the tools it
// starts as root: descriptors above 2 are closed and the environment is
// rebuilt from a short allow-list with a fixed PATH. Only the self-repair
// child keeps the privileged launch's hand-over variable, and only until it
// has taken the reference. A run that cannot do this does nothing else.
void sanitizeProcess(bool selfRepairChild) {
    if (close_range(3, ~0U, 0) != 0)
        fail(contract::kStatusNotSanitized, "closing inherited descriptors");

    std::string root = host::systemRoot();
    const char* reference = getenv(auth::kPrivilegedReferenceVariable);
    std::string keptReference = reference && selfRepairChild ? reference : "";
    bool requireSandbox = getenv("VARNO_REQUIRE_SANDBOX") != nullptr && getauxval(AT_SECURE) == 0;

    if (clearenv() != 0) fail(contract::kStatusNotSanitized, "clearing the environment");
    setVariable("PATH", "/usr/bin:/bin:/usr/sbin:/sbin");
    if (root != "/") setVariable("VARNO_SYSTEM_ROOT", root);
    if (!keptReference.empty()) setVariable(auth::kPrivilegedReferenceVariable, keptReference);
    if (requireSandbox) setVariable("VARNO_REQUIRE_SANDBOX", "1");
    umask(022);
}

// Our own executable's path, in a buffer of 1024 bytes that is grown once
// when the path is longer.
char* findSelf() {
    uint32_t pathSize = 1024;
    char* pathToSelf = static_cast<char*>(malloc(pathSize));
    if (pathToSelf == nullptr) {
        wstrnl("Error allocating path_to_self");
        finish(contract::kStatusNoMemoryForPath);
    }
    if (MyGetExecutablePath(pathToSelf, &pathSize) == 0) return pathToSelf;
    char* grown = static_cast<char*>(realloc(pathToSelf, pathSize + 1));
    if (grown == nullptr) {
        puts("Error reallocating path_to_self");
        finish(contract::kStatusOutOfMemory);
    }
    pathSize += 1;
    if (MyGetExecutablePath(grown, &pathSize) != 0) {
        puts("Can't get path_to_self");
        finish(contract::kStatusNoPathToSelf);
    }
    return grown;
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

// The reference the privileged launch handed over; the variable that carried
// it must not reach the tools an operation starts.
auth::AuthorizationRef takePrivilegedReference() {
    auth::AuthorizationRef authorization;
    auth::OSStatus status = auth::AuthorizationCopyPrivilegedReference(
        &authorization, auth::kAuthorizationFlagDefaults);
    if (unsetenv(auth::kPrivilegedReferenceVariable) != 0)
        fail(contract::kStatusNotSanitized,
             std::string("removing ") + auth::kPrivilegedReferenceVariable);
    if (status != 0) {
        printf("Error %ld copying privelage reference\n", static_cast<long>(status));
        finish(contract::kStatusNoPrivilegedReference);
    }
    return authorization;
}

// Makes our own file root's and set-user-ID, without group or other write.
// A file that could not be made root's is never made set-user-ID.
void repairOwnFile(const char* pathToSelf) {
    int lock = lockRepair(pathToSelf);
    int fd = lock < 0 ? -1 : open(pathToSelf, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        printf("Exclusive open failed in self-repair mode: %s (%d)\n", strerror(errno), errno);
        finish(contract::kStatusSelfRepairLocked);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        printf("Error in fstat(): %s (%d)\n", strerror(errno), errno);
        finish(contract::kStatusSelfUnreadable);
    }
    if (st.st_uid != 0 && fchown(fd, 0, static_cast<gid_t>(-1)) != 0)
        fail(contract::kStatusSelfNotRepaired,
             "changing the owner of " + plist::displayForm(pathToSelf));
    // Clear set-user-ID, group write and other write, then set set-user-ID.
    if (fchmod(fd, (st.st_mode & 0173755 & 07777) | 04000) != 0)
        fail(contract::kStatusSelfNotRepaired,
             "changing the mode of " + plist::displayForm(pathToSelf));
    close(fd);
    close(lock);
}

auth::AuthorizationRef selfRepair(const char* pathToSelf) {
    auth::AuthorizationRef authorization = takePrivilegedReference();
    repairOwnFile(pathToSelf);
    return authorization;
}

// Copies the caller's remaining input to the privileged child and the
// child's output back to our caller, both at once so that neither side can
// fill the other's buffer and stall.
class Relay {
  public:
    explicit Relay(int stream) : stream_(stream) {}

    void run() {
        while (outputOpen_) {
            struct pollfd fds[2];
            nfds_t n = 0;
            fds[n++] = {stream_, static_cast<short>(POLLIN | (pending_.empty() ? 0 : POLLOUT)), 0};
            if (inputOpen_ && pending_.empty()) fds[n++] = {0, POLLIN, 0};
            if (poll(fds, n, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (n == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) readInput();
            if (!pending_.empty() && (fds[0].revents & POLLOUT)) writePending();
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) copyOutput();
        }
    }

  private:
    void endInput() {
        inputOpen_ = false;
        shutdown(stream_, SHUT_WR);  // the child sees the end of its input
    }

    void readInput() {
        ssize_t got = read(0, buffer_, sizeof buffer_);
        if (got > 0) {
            pending_.assign(buffer_, buffer_ + got);
        } else if (got == 0 || errno != EINTR) {
            endInput();
        }
    }

    void writePending() {
        ssize_t put = write(stream_, pending_.data(), pending_.size());
        if (put > 0) {
            pending_.erase(pending_.begin(), pending_.begin() + put);
        } else if (put < 0 && errno != EINTR && errno != EAGAIN) {
            pending_.clear();
            endInput();
        }
    }

    void copyOutput() {
        ssize_t got = read(stream_, buffer_, sizeof buffer_);
        if (got > 0) {
            writeOutput(got);
        } else if (got == 0 || errno != EINTR) {
            outputOpen_ = false;
        }
    }

    void writeOutput(ssize_t size) {
        for (ssize_t off = 0; off < size;) {
            ssize_t put = write(1, buffer_ + off, static_cast<size_t>(size - off));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) break;
            off += put;
        }
    }

    int stream_;
    bool inputOpen_ = true;
    bool outputOpen_ = true;
    std::vector<char> pending_;
    char buffer_[1024];
};

// The bit goes before the privileged launch is tried, so that it is gone even
// when the launch fails. None of these failures stops the forwarder: where
// the volume ignores set-user-ID bits, root's file cannot be changed by its
// caller, and the privileged child works all the same.
void dropSetUserIdBit(const char* pathToSelf) {
    int fd = openLockedExclusive(pathToSelf);
    if (fd < 0) {
        printf("Exclusive open failed: %s (%d)\n", strerror(errno), errno);
        return;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        printf("Error checking suid bit: %s (%d)\n", strerror(errno), errno);
    } else if ((st.st_mode & 04000) && fchmod(fd, st.st_mode & 07777 & ~04000) != 0) {
        reportFailure("dropping the set-user-ID bit of " + plist::displayForm(pathToSelf));
    }
    close(fd);
}

void runSelfRepairChild(const char* pathToSelf, const auth::Authorization& authorization) {
    FILE* stream = nullptr;
    auth::OSStatus status = auth::AuthorizationExecuteWithPrivileges(
        authorization, pathToSelf, auth::kAuthorizationFlagDefaults, {kSelfRepairArgument},
        &stream);
    if (status != 0)
        printf("Error %ld in AuthorizationExecuteWithPrivileges\n", static_cast<long>(status));
    if (stream == nullptr) return;
    // A child that ends early must not take the forwarder down with it; its
    // status is what the caller needs.
    signal(SIGPIPE, SIG_IGN);
    fflush(stream);
    Relay(fileno(stream)).run();
    fclose(stream);
}

[[noreturn]] void forward(const char* pathToSelf, const auth::Authorization& authorization) {
    dropSetUserIdBit(pathToSelf);
    runSelfRepairChild(pathToSelf, authorization);
    int childStatus = 0;
    pid_t pid;
    while ((pid = wait(&childStatus)) < 0 && errno == EINTR) {
    }
    if (pid > 0 && WIFEXITED(childStatus)) finish(WEXITSTATUS(childStatus));
    puts("Error waiting for self-repair child process");
    finish(contract::kStatusPrivilegedCopyFailed);
}

auth::AuthorizationRef readAuthorization() {
    auth::AuthorizationExternalForm form;
    errno = 0;
    if (readFully(0, form.bytes.data(), form.bytes.size()) != form.bytes.size()) {
        printf("Error reading externalAuthorizationRef: %s (%d)\n", strerror(errno), errno);
        finish(contract::kStatusNoAuthorizationForm);
    }
    auth::AuthorizationRef authorization;
    auth::OSStatus status = auth::AuthorizationCreateFromExternalForm(form, &authorization);
    if (status != 0) {
        printf("Error %ld creating authorizationRef from external form\n",
               static_cast<long>(status));
        finish(contract::kStatusBadAuthorizationForm);
    }
    return authorization;
}

// Every operation needs the one right; a refusal ends the run with the
// refusal's status.
void authorize(const auth::Authorization& authorization) {
    auth::AuthorizationRights rights{{std::string(contract::kAuthExecRight), "", 0}};
    auth::OSStatus status = auth::AuthorizationCopyRights(
        authorization, rights,
        auth::kAuthorizationFlagInteractionAllowed | auth::kAuthorizationFlagExtendRights);
    if (status != 0) {
        printf("Error %ld authorizing.", static_cast<long>(status));
        finish(status);
    }
}

[[noreturn]] void requestIncomplete() {
    printf("Error reading parametersDict: %s (%d)\n", strerror(errno), errno);
    finish(contract::kStatusRequestIncomplete);
}

plist::Dictionary readRequest() {
    uint64_t length = 0;
    errno = 0;
    if (readFully(0, &length, sizeof length) != sizeof length) {
        wstrnl("Error reading sizeOfDict");
        finish(contract::kStatusNoRequestLength);
    }
    if (length > kMaxRequestLength) {
        errno = EFBIG;
        requestIncomplete();
    }
    std::string document(length, '\0');
    errno = 0;
    if (readFully(0, document.data(), document.size()) != length) requestIncomplete();
    std::optional<plist::Dictionary> parameters = parseRequestDocument(document);
    if (!parameters) finish(contract::kStatusRequestUnreadable);
    return std::move(*parameters);
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool selfRepairMode = argc == 2 && strcmp(argv[1], kSelfRepairArgument) == 0;
    // Privileges gained from the set-user-ID bit, or handed over by the
    // privileged launch.
    if ((geteuid() == 0 && getuid() != 0) || selfRepairMode) sanitizeProcess(selfRepairMode);

    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);

    char* pathToSelf = findSelf();
    auth::AuthorizationRef authorization;
    if (selfRepairMode) {
        authorization = selfRepair(pathToSelf);
    } else {
        authorization = readAuthorization();
        if (geteuid() != 0) forward(pathToSelf, *authorization);
    }
    free(pathToSelf);
    authorize(*authorization);
    finish(callExecutionFunction(readRequest()));
}
