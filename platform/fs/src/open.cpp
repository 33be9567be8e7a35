#include "fs/open.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "host/root.h"

namespace vfs {
namespace {

// Kernels without openat2 (or a filter that refuses it) fall back to the
// plain mapping of the machine path.
bool openat2Missing = false;

// True when the root mapping leaves the path where it is (the program's own
// bundle outside a sandbox root is used in place).
bool mappedOutsideRoot(std::string_view path, const std::string& root) {
    if (root == "/") return false;
    std::string real = host::realPath(path);
    return real.compare(0, root.size(), root) != 0 ||
           (real.size() > root.size() && real[root.size()] != '/');
}

int openUnderRoot(std::string_view path, int flags, mode_t mode) {
    flags |= O_CLOEXEC;
    const std::string root = host::systemRoot();
    if (mappedOutsideRoot(path, root)) return open(host::realPath(path).c_str(), flags, mode);
    if (!openat2Missing) {
        int rootFd = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (rootFd < 0) return -1;
        std::string rel(path);
        size_t start = rel.find_first_not_of('/');
        rel = start == std::string::npos ? "." : rel.substr(start);
        struct open_how how {};
        how.flags = static_cast<unsigned long long>(flags);
        how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
        how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
        long fd = syscall(SYS_openat2, rootFd, rel.c_str(), &how, sizeof how);
        int saved = errno;
        close(rootFd);
        if (fd >= 0) return static_cast<int>(fd);
        if (saved != ENOSYS && saved != EPERM) {
            errno = saved;
            return -1;
        }
        openat2Missing = true;
    }
    return open(host::realPath(path).c_str(), flags, mode);
}

}  // namespace

std::string normalizedMachinePath(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out += c;
    }
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

int openMachinePath(std::string_view machinePath, int flags, mode_t mode) {
    if (machinePath.empty()) {
        errno = ENOENT;
        return -1;
    }
    return openUnderRoot(machinePath, flags, mode);
}

int openParentFolder(std::string_view machinePath, std::string* leaf) {
    std::string path = normalizedMachinePath(machinePath);
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (path == "/" || name == "." || name == "..") {
        errno = EINVAL;
        return -1;
    }
    std::string parent;
    if (slash == std::string::npos)
        parent = ".";
    else if (slash == 0)
        parent = "/";
    else
        parent = path.substr(0, slash);
    int fd = openUnderRoot(parent, O_RDONLY | O_DIRECTORY, 0);
    if (fd >= 0) *leaf = std::move(name);
    return fd;
}

}  // namespace vfs
