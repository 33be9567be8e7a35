// The record store: one file per live authorization, named by the hex of its
// handle. The name is the secret; the file holds only its creation time.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <ctime>

#include "host/root.h"
#include "internal.h"

namespace auth::detail {
namespace {

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

bool storeTrusted(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == 0 && (st.st_mode & S_ISVTX) != 0 &&
           (st.st_mode & (S_IRGRP | S_IROTH)) == 0;
}

// Makes the store and any missing parents; only root gets here.
void makeStore() {
    std::string machine = kStorePath;
    for (size_t slash = machine.find('/', 1); slash != std::string::npos;
         slash = machine.find('/', slash + 1)) {
        std::string parent = host::realPath(machine.substr(0, slash));
        if (mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) return;
    }
    std::string path = host::realPath(machine);
    if (mkdir(path.c_str(), 0700) != 0) return;
    // The mode is set on the descriptor so that the caller's umask plays no part.
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    (void)!fchmod(fd, 01733);
    close(fd);
}

// The store as a path descriptor (search permission is all a user has).
OSStatus openStore(bool create, int* out) {
    std::string path = host::realPath(kStorePath);
    int fd = open(path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create && geteuid() == 0) {
        makeStore();
        fd = open(path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0)
        return errno == ENOENT && !create ? errAuthorizationInvalidRef : errAuthorizationInternal;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !storeTrusted(st)) {
        close(fd);
        return errAuthorizationInternal;
    }
    *out = fd;
    return errAuthorizationSuccess;
}

std::optional<std::int64_t> parseTime(std::string_view text) {
    if (text.empty() || text.back() != '\n') return std::nullopt;
    text.remove_suffix(1);
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

}  // namespace

std::string hexOf(const Handle& handle) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(handle.size() * 2);
    for (std::uint8_t b : handle) {
        hex += digits[b >> 4];
        hex += digits[b & 0xf];
    }
    return hex;
}

std::optional<Handle> handleFromHex(std::string_view hex) {
    if (hex.size() != kAuthorizationExternalFormLength * 2) return std::nullopt;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    Handle handle{};
    for (size_t i = 0; i < handle.size(); ++i) {
        int hi = nibble(hex[2 * i]);
        int lo = nibble(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        handle[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return handle;
}

OSStatus createRecord(const Handle& handle) {
    int storeFd = -1;
    if (OSStatus status = openStore(true, &storeFd)) return status;
    Fd store(storeFd);
    std::string name = hexOf(handle);
    Fd fd(openat(store.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 0600));
    if (fd.get() < 0) return errAuthorizationInternal;

    std::string text = std::to_string(static_cast<std::int64_t>(time(nullptr))) + "\n";
    bool ok = fchmod(fd.get(), 0600) == 0;
    // A set-user-ID root process creates on behalf of the user who started it.
    if (ok && geteuid() == 0 && getuid() != 0) ok = fchown(fd.get(), getuid(), getgid()) == 0;
    if (ok) ok = write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (!ok) {
        (void)!unlinkat(store.get(), name.c_str(), 0);
        return errAuthorizationInternal;
    }
    return errAuthorizationSuccess;
}

OSStatus checkRecord(const Handle& handle, uid_t presenter) {
    int storeFd = -1;
    if (OSStatus status = openStore(false, &storeFd)) return status;
    Fd store(storeFd);
    std::string name = hexOf(handle);
    // O_NONBLOCK so that a planted FIFO cannot hang the check.
    Fd fd(openat(store.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        bool absent = errno == ENOENT || errno == EACCES || errno == ELOOP || errno == EPERM ||
                      errno == ENXIO;
        return absent ? errAuthorizationInvalidRef : errAuthorizationInternal;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) return errAuthorizationInternal;
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1 || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
        (presenter != 0 && st.st_uid != presenter))
        return errAuthorizationInvalidRef;

    char buf[32];
    ssize_t n = read(fd.get(), buf, sizeof buf);
    if (n < 0) return errAuthorizationInternal;
    std::optional<std::int64_t> created = parseTime(std::string_view(buf, static_cast<size_t>(n)));
    std::int64_t now = time(nullptr);
    if (!created || *created < 0 || *created > now + kClockSkewSeconds ||
        now - *created >= kLifetimeSeconds)
        return errAuthorizationInvalidRef;
    return errAuthorizationSuccess;
}

OSStatus removeRecord(const Handle& handle) {
    int storeFd = -1;
    if (OSStatus status = openStore(false, &storeFd)) return status;
    Fd store(storeFd);
    if (unlinkat(store.get(), hexOf(handle).c_str(), 0) != 0 && errno != ENOENT)
        return errAuthorizationInternal;
    return errAuthorizationSuccess;
}

}  // namespace auth::detail
