#include "fs/copy.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "fs/open.h"
#include "fs/remove.h"
#include "fs/walk.h"

namespace vfs {
namespace {

// Closes a descriptor at the end of a scope.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

int copyData(int from, int to) {
    for (;;) {
        ssize_t n = copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (n == 0) return 0;
        if (n > 0) continue;
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return errno;
        break;
    }
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ssize_t n = read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return 0;
        for (ssize_t off = 0; off < n;) {
            ssize_t w = write(to, buffer.data() + off, static_cast<size_t>(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) return errno;
            off += w;
        }
    }
}

// Copies a file or link (never followed) to toFolder/toName, which must not exist.
int copyLeaf(int fromFolder, const char* fromName, int toFolder, const char* toName) {
    struct stat st {};
    if (fstatat(fromFolder, fromName, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> target(static_cast<size_t>(st.st_size) + 2);
        ssize_t n = readlinkat(fromFolder, fromName, target.data(), target.size());
        if (n < 0) return errno;
        if (static_cast<size_t>(n) >= target.size() - 1) return EIO;  // changed meanwhile
        target[static_cast<size_t>(n)] = '\0';
        return symlinkat(target.data(), toFolder, toName) == 0 ? 0 : errno;
    }
    if (!S_ISREG(st.st_mode)) return EINVAL;
    Fd from(openat(fromFolder, fromName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (from.fd < 0) return errno;
    Fd to(openat(toFolder, toName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (to.fd < 0) return errno;
    int error = copyData(from.fd, to.fd);
    if (error == 0 && fchmod(to.fd, st.st_mode & 0777) != 0) error = errno;
    return error;
}

int copyFolder(int fromFd, int toFolder, const char* toName) {
    struct stat st {};
    if (fstat(fromFd, &st) != 0) return errno;
    if (mkdirat(toFolder, toName, 0700) != 0) return errno;
    int top = openat(toFolder, toName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (top < 0) return errno;
    int firstError = 0;
    auto note = [&](int e) {
        if (e != 0 && firstError == 0) firstError = e;
    };
    struct Made {
        int fd;
        mode_t mode;
    };
    std::vector<Made> made{{top, st.st_mode}};
    WalkCallbacks cb;
    cb.entry = [&](const WalkEntry& e) {
        if (e.info.isFolder()) return true;
        std::string name(e.name);
        note(copyLeaf(e.folderFd, name.c_str(), made.back().fd, name.c_str()));
        return false;
    };
    cb.enter = [&](const WalkEntry& e, int fd) {
        std::string name(e.name);
        struct stat fst {};
        int out = -1;
        if (fstat(fd, &fst) != 0) {
            note(errno);
        } else if (mkdirat(made.back().fd, name.c_str(), 0700) != 0) {
            note(errno);
        } else {
            out = openat(made.back().fd, name.c_str(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (out < 0) note(errno);
        }
        made.push_back({out, fst.st_mode});
    };
    cb.leave = [&](const WalkEntry&) {
        Made m = made.back();
        made.pop_back();
        if (m.fd >= 0) {
            if (fchmod(m.fd, m.mode & 0777) != 0) note(errno);
            close(m.fd);
        }
    };
    cb.error = [&](const WalkEntry&, int e) { note(e); };
    note(walkFolderFd(fromFd, WalkOrder::ByName, cb));
    while (made.size() > 1) {  // a walk that stopped early
        if (made.back().fd >= 0) close(made.back().fd);
        made.pop_back();
    }
    if (fchmod(top, st.st_mode & 0777) != 0) note(errno);
    close(top);
    return firstError;
}

std::string temporaryName(const std::string& name) {
    unsigned char bytes[6] = {};
    if (getrandom(bytes, sizeof bytes, 0) != sizeof bytes) {
        for (size_t i = 0; i < sizeof bytes; ++i)
            bytes[i] = static_cast<unsigned char>(getpid() >> (i % 4 * 8));
    }
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string out(".");
    out.append(name, 0, 200);
    out += ".copy-";
    for (unsigned char b : bytes) out += digits[b % 36];
    return out;
}

std::string joined(std::string_view folder, const std::string& name) {
    std::string out = normalizedMachinePath(folder);
    if (out != "/") out += '/';
    return out + name;
}

std::string lastComponent(std::string_view path) {
    std::string p = normalizedMachinePath(path);
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

OSErr fail(int error) {
    errno = error;
    return osErrFromErrno(error);
}

// Shared first steps: the source exists, the destination folder is a
// folder, the name is a single component.
struct Prepared {
    int destFd = -1;
    std::string name;
};

OSErr prepare(std::string_view source, std::string_view destFolder, const char* destName,
              Prepared* out) {
    struct stat st {};
    int error = lstatMachinePath(source, &st);
    if (error == ENOENT || error == ENOTDIR) return fail(ENOENT);
    if (error != 0) return fail(error);
    std::string name = destName != nullptr ? std::string(destName) : lastComponent(source);
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return fail(EINVAL);
    int fd = openMachinePath(destFolder, O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        error = errno;
        if (error == ENOENT) {
            errno = ENOENT;
            return dirNFErr;
        }
        if (error == ENOTDIR) {
            errno = ENOTDIR;
            return errFSNotAFolder;
        }
        return fail(error);
    }
    out->destFd = fd;
    out->name = std::move(name);
    return noErr;
}

// Renames within one file system; without replace, never over an existing
// object. Returns 0 or errno (EEXIST when something is in the way).
int renameInto(int fromFolder, const char* fromName, int toFolder, const char* toName, bool replace,
               std::string_view destPath) {
    if (!replace) {
        if (renameat2(fromFolder, fromName, toFolder, toName, RENAME_NOREPLACE) == 0) return 0;
        if (errno != EINVAL && errno != ENOSYS) return errno;
        // A file system without the no-replace rename.
        struct stat st {};
        if (fstatat(toFolder, toName, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
        return renameat(fromFolder, fromName, toFolder, toName) == 0 ? 0 : errno;
    }
    if (renameat(fromFolder, fromName, toFolder, toName) == 0) return 0;
    int error = errno;
    if (error != EISDIR && error != ENOTDIR && error != ENOTEMPTY && error != EEXIST) return error;
    // A folder in the way of a file, or a folder with contents: it is replaced.
    int removed = removefile(destPath, REMOVEFILE_RECURSIVE);
    if (removed != 0) return removed;
    return renameat(fromFolder, fromName, toFolder, toName) == 0 ? 0 : errno;
}

// Copies the source under a temporary name in the destination folder, then
// renames it into place.
OSErr copyInto(std::string_view source, std::string_view destFolder, const Prepared& p,
               bool replace) {
    std::string leaf;
    Fd fromParent(openParentFolder(source, &leaf));
    if (fromParent.fd < 0) return fail(errno);
    struct stat st {};
    if (fstatat(fromParent.fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return fail(errno);
    if (!replace && fstatat(p.destFd, p.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return dupFNErr;
    }
    std::string temp = temporaryName(p.name);
    int error;
    if (S_ISDIR(st.st_mode)) {
        Fd from(
            openat(fromParent.fd, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        error = from.fd < 0 ? errno : copyFolder(from.fd, p.destFd, temp.c_str());
    } else {
        error = copyLeaf(fromParent.fd, leaf.c_str(), p.destFd, temp.c_str());
    }
    std::string destPath = joined(destFolder, p.name);
    if (error == 0)
        error = renameInto(p.destFd, temp.c_str(), p.destFd, p.name.c_str(), replace, destPath);
    if (error != 0) {
        removefile(joined(destFolder, temp), REMOVEFILE_RECURSIVE);
        return fail(error);
    }
    return noErr;
}

}  // namespace

OSErr FSPathCopyObjectSync(std::string_view source, std::string_view destFolder,
                           const char* destName, std::string* targetPath, OptionBits options) {
    Prepared p;
    OSErr err = prepare(source, destFolder, destName, &p);
    if (err != noErr) return err;
    Fd dest(p.destFd);
    err = copyInto(source, destFolder, p, (options & kFSFileOperationOverwrite) != 0);
    if (err == noErr && targetPath != nullptr) *targetPath = joined(destFolder, p.name);
    return err;
}

OSErr FSPathMoveObjectSync(std::string_view source, std::string_view destFolder,
                           const char* destName, std::string* targetPath, OptionBits options) {
    Prepared p;
    OSErr err = prepare(source, destFolder, destName, &p);
    if (err != noErr) return err;
    Fd dest(p.destFd);
    bool replace = (options & kFSFileOperationOverwrite) != 0;
    std::string leaf;
    Fd fromParent(openParentFolder(source, &leaf));
    if (fromParent.fd < 0) return fail(errno);
    std::string destPath = joined(destFolder, p.name);
    int error =
        renameInto(fromParent.fd, leaf.c_str(), p.destFd, p.name.c_str(), replace, destPath);
    if (error == EXDEV) {
        // Another volume: copy, then remove the original.
        err = copyInto(source, destFolder, p, replace);
        if (err != noErr) return err;
        error = removefile(source, REMOVEFILE_RECURSIVE);
    }
    if (error != 0) return fail(error);
    if (targetPath != nullptr) *targetPath = destPath;
    return noErr;
}

}  // namespace vfs
