#include "fs/open.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <vector>

#include "host/root.h"

namespace vfs {
namespace {

bool forcedWalk = false;

// Kernels without openat2 (or a filter that refuses it) fall back to the
// plain mapping of the machine path. Asked once, of "/": an EPERM of one
// open (an immutable file opened for writing) must not turn the resolution
// in the root off for the rest of the run.
bool openat2Missing() {
    static const bool missing = [] {
        struct open_how how {};
        how.flags = O_PATH | O_CLOEXEC;
        how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
        long fd = syscall(SYS_openat2, AT_FDCWD, "/", &how, sizeof how);
        if (fd >= 0) close(static_cast<int>(fd));
        return fd < 0 && (errno == ENOSYS || errno == EPERM);
    }();
    return missing;
}

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
    if (!openat2Missing()) {
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
        errno = saved;
        return -1;
    }
    return open(host::realPath(path).c_str(), flags, mode);
}

// Only root can have made a link in a folder that is root's and that no one
// else may write; such a link is part of the machine ("/var", "/tmp").
bool trustedFolder(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The components of a relative path, without empty ones and ".".
std::deque<std::string> componentsOf(const std::string& path) {
    std::deque<std::string> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos) slash = path.size();
        std::string name = path.substr(pos, slash - pos);
        if (!name.empty() && name != ".") parts.push_back(std::move(name));
        pos = slash + 1;
    }
    return parts;
}

// A walk under way: the folders opened so far (the caller's root first,
// never closed here) and the components still to go. The folders it opened
// are closed when it ends, keeping the errno of the call that ended it.
struct NoLinksWalk {
    std::vector<int> stack;
    std::deque<std::string> parts;
    int links = 0;

    NoLinksWalk(int rootFd, const std::string& rel) : stack{rootFd}, parts(componentsOf(rel)) {}
    NoLinksWalk(const NoLinksWalk&) = delete;
    NoLinksWalk& operator=(const NoLinksWalk&) = delete;
    ~NoLinksWalk() {
        int saved = errno;
        backToRoot();
        errno = saved;
    }

    void backToRoot() {
        for (size_t i = 1; i < stack.size(); ++i) close(stack[i]);
        stack.resize(1);
    }

    // ".." goes back up the folders opened so far, never above the root.
    void up() {
        if (stack.size() > 1) {
            close(stack.back());
            stack.pop_back();
        }
    }

    // Follows the link `name` in the current folder if it may be trusted.
    bool follow(const std::string& name) {
        struct stat st {};
        if (fstatat(stack.back(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
        if (!S_ISLNK(st.st_mode) || !trustedFolder(stack.back()) || ++links > 40) {
            errno = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
            return false;
        }
        char target[4096];
        ssize_t n = readlinkat(stack.back(), name.c_str(), target, sizeof target);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof target) {
            errno = ELOOP;
            return false;
        }
        std::string to(target, static_cast<size_t>(n));
        if (to[0] == '/') backToRoot();
        std::deque<std::string> more = componentsOf(to);
        parts.insert(parts.begin(), more.begin(), more.end());
        return true;
    }
};

// A folder on the way, opened as a path only; in its place a trusted link
// is followed instead.
bool enterFolder(NoLinksWalk& walk, const std::string& name) {
    int next =
        openat(walk.stack.back(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next >= 0) {
        walk.stack.push_back(next);
        return true;
    }
    return (errno == ENOTDIR || errno == ELOOP) && walk.follow(name);
}

// The last component. True when the walk ends here, with *fd the result;
// false when it was a trusted link, followed, and the walk goes on.
bool openLast(NoLinksWalk& walk, const std::string& name, int flags, mode_t mode, int* fd) {
    *fd = openat(walk.stack.back(), name.c_str(), flags | O_NOFOLLOW, mode);
    if (*fd >= 0 || (errno != ELOOP && errno != ENOTDIR)) return true;
    int error = errno;
    struct stat st {};
    if (fstatat(walk.stack.back(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISLNK(st.st_mode)) {
        errno = error;
        return true;
    }
    if (flags & O_NOFOLLOW) {
        errno = ELOOP;
        return true;
    }
    return !walk.follow(name);
}

// One component at a time, each opened with O_NOFOLLOW; a link is followed
// only in a trusted folder, ".." goes back up the folders opened so far.
int walkNoLinks(int rootFd, const std::string& rel, int flags, mode_t mode) {
    NoLinksWalk walk(rootFd, rel);
    while (!walk.parts.empty()) {
        std::string name = std::move(walk.parts.front());
        walk.parts.pop_front();
        if (name == "..") {
            walk.up();
        } else if (walk.parts.empty()) {
            int fd = -1;
            if (openLast(walk, name, flags, mode, &fd)) return fd;
        } else if (!enterFolder(walk, name)) {
            return -1;
        }
    }
    // Only "/", "." or ".." components: the folder reached.
    return openat(walk.stack.back(), ".", flags, mode);
}

int openUnderRootNoLinks(std::string_view path, int flags, mode_t mode) {
    flags |= O_CLOEXEC;
    int rootFd = open(host::systemRoot().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return -1;
    std::string rel(path);
    size_t start = rel.find_first_not_of('/');
    rel = start == std::string::npos ? "." : rel.substr(start);
    long fd = -1;
    const bool walk = forcedWalk || openat2Missing();
    if (!walk) {
        struct open_how how {};
        how.flags = static_cast<unsigned long long>(flags);
        how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
        how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_SYMLINKS;
        fd = syscall(SYS_openat2, rootFd, rel.c_str(), &how, sizeof how);
    }
    // A link on the way: the walk tells the machine's own links from others.
    if (walk || (fd < 0 && (errno == ELOOP || errno == ENOTDIR)))
        fd = walkNoLinks(rootFd, rel, flags, mode);
    int saved = errno;
    close(rootFd);
    errno = saved;
    return static_cast<int>(fd);
}

// Splits a machine path into its folder and last component.
bool splitLeaf(std::string_view machinePath, std::string* parent, std::string* leaf) {
    std::string path = normalizedMachinePath(machinePath);
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (path == "/" || name == "." || name == "..") {
        errno = EINVAL;
        return false;
    }
    if (slash == std::string::npos)
        *parent = ".";
    else if (slash == 0)
        *parent = "/";
    else
        *parent = path.substr(0, slash);
    *leaf = std::move(name);
    return true;
}

}  // namespace

int openMachinePathNoLinks(std::string_view machinePath, int flags, mode_t mode) {
    if (machinePath.empty()) {
        errno = ENOENT;
        return -1;
    }
    return openUnderRootNoLinks(machinePath, flags, mode);
}

int openParentFolderNoLinks(std::string_view machinePath, std::string* leaf) {
    std::string parent;
    std::string name;
    if (!splitLeaf(machinePath, &parent, &name)) return -1;
    int fd = openUnderRootNoLinks(parent, O_RDONLY | O_DIRECTORY, 0);
    if (fd >= 0) *leaf = std::move(name);
    return fd;
}

void forceNoLinksWalkForTesting(bool force) { forcedWalk = force; }

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
    std::string parent;
    std::string name;
    if (!splitLeaf(machinePath, &parent, &name)) return -1;
    int fd = openUnderRoot(parent, O_RDONLY | O_DIRECTORY, 0);
    if (fd >= 0) *leaf = std::move(name);
    return fd;
}

}  // namespace vfs
