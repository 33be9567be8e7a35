#include "fs/replace.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vfs {
namespace {

// ".<name>.<six random characters>", cut so that it stays a valid name even
// beside a name of the longest length.
std::string temporaryName(std::string_view name) {
    unsigned char random[6] = {};
    if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        for (std::size_t i = 0; i < sizeof random; ++i)
            random[i] = static_cast<unsigned char>(getpid() >> (i % 4 * 8));
    }
    std::string temp = ".";
    temp.append(name.substr(0, NAME_MAX - 8));
    temp += '.';
    for (unsigned char c : random) temp += "0123456789abcdefghijklmnopqrstuvwxyz"[c % 36];
    return temp;
}

int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

// The new file's owner and mode, set through its descriptor. chown clears
// the set-ID bits, so the mode comes after it.
int applyRights(int fd, const struct stat* old, const ReplacementRights& rights) {
    uid_t owner = static_cast<uid_t>(-1);
    gid_t group = static_cast<gid_t>(-1);
    mode_t mode = rights.mode;
    bool mustOwn = false;
    if (old != nullptr && rights.keepExisting) {
        owner = old->st_uid;
        group = old->st_gid;
        mode = old->st_mode & 07777;
    }
    if (rights.owner) owner = *rights.owner, mustOwn = true;
    if (rights.group) group = *rights.group, mustOwn = true;
    struct stat now {};
    if (fstat(fd, &now) != 0) return errno;
    if (owner == now.st_uid) owner = static_cast<uid_t>(-1);
    if (group == now.st_gid) group = static_cast<gid_t>(-1);
    if ((owner != static_cast<uid_t>(-1) || group != static_cast<gid_t>(-1)) &&
        fchown(fd, owner, group) != 0) {
        // Only a privileged writer can give a file away; anyone else keeps
        // what they rewrite as their own, unless an owner was asked for.
        if (errno != EPERM || mustOwn) return errno;
    }
    return fchmod(fd, mode) == 0 ? 0 : errno;
}

ReplaceResult failed(int error, const char* step) {
    return ReplaceResult{error, step};
}

}  // namespace

std::string ReplaceResult::describe(std::string_view path) const {
    std::string text = "cannot ";
    text += step;
    text += ' ';
    text.append(path);
    text += ": ";
    text += std::strerror(error);
    return text;
}

ReplaceResult replaceFileAt(int folderFd, std::string_view name, std::string_view bytes,
                            const ReplacementRights& rights) {
    const std::string leaf(name);
    struct stat old {};
    const bool hadFile = fstatat(folderFd, leaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (hadFile && S_ISDIR(old.st_mode)) return failed(EISDIR, "replace");
    const bool keep = hadFile && S_ISREG(old.st_mode);

    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temp = temporaryName(leaf);
        fd = openat(folderFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return failed(errno, "create a file beside");

    ReplaceResult result;
    if (int e = writeAll(fd, bytes)) result = failed(e, "write");
    if (result.ok()) {
        if (int e = applyRights(fd, keep ? &old : nullptr, rights)) result = failed(e, "write");
    }
    if (result.ok() && fsync(fd) != 0) result = failed(errno, "write");
    if (close(fd) != 0 && result.ok()) result = failed(errno, "write");
    if (result.ok() && renameat(folderFd, temp.c_str(), folderFd, leaf.c_str()) != 0)
        result = failed(errno, "replace");
    if (!result.ok()) {
        unlinkat(folderFd, temp.c_str(), 0);
        return result;
    }
    // The rename itself must reach the disk before the replacement is done.
    if (fsync(folderFd) != 0) return failed(errno, "sync the folder of");
    return result;
}

ReplaceResult replaceFile(std::string_view realPath, std::string_view bytes,
                          const ReplacementRights& rights) {
    const std::string path(realPath);
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return failed(EINVAL, "replace");
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) return failed(errno, "create a file beside");
    ReplaceResult result = replaceFileAt(folderFd, name, bytes, rights);
    close(folderFd);
    return result;
}

}  // namespace vfs
