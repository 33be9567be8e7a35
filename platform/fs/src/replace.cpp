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

constexpr const char* kCreate = "create a file beside";
constexpr const char* kWrite = "write";
constexpr const char* kReplace = "replace";
constexpr const char* kSyncFolder = "sync the folder of";

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

ReplaceResult installReplacementAt(int fd, int folderFd, std::string_view name,
                                   int targetFolderFd, std::string_view targetName,
                                   const ReplacementRights& rights) {
    const std::string leaf(name), target(targetName);
    struct stat old {};
    const bool keep = rights.keepExisting &&
                      fstatat(targetFolderFd, target.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISREG(old.st_mode);
    ReplaceResult result;
    struct stat prepared {};
    if (int e = applyRights(fd, keep ? &old : nullptr, rights)) result = failed(e, kWrite);
    if (result.ok() && fsync(fd) != 0) result = failed(errno, kWrite);
    if (result.ok() && fstat(fd, &prepared) != 0) result = failed(errno, kWrite);
    if (close(fd) != 0 && result.ok()) result = failed(errno, kWrite);
    if (!result.ok()) return result;
    // Only the file just prepared may take the target's place, not whatever
    // was put at its name meanwhile.
    struct stat now {};
    if (fstatat(folderFd, leaf.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        return failed(errno, kReplace);
    if (now.st_dev != prepared.st_dev || now.st_ino != prepared.st_ino)
        return failed(EINVAL, kReplace);
    if (renameat(folderFd, leaf.c_str(), targetFolderFd, target.c_str()) != 0)
        return failed(errno, kReplace);
    // The rename itself must reach the disk before the replacement is done.
    if (fsync(targetFolderFd) != 0) return failed(errno, kSyncFolder);
    return result;
}

ReplaceResult replaceFileAt(int folderFd, std::string_view name, std::string_view bytes,
                            const ReplacementRights& rights) {
    const std::string leaf(name);
    struct stat old {};
    if (fstatat(folderFd, leaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(old.st_mode))
        return failed(EISDIR, kReplace);

    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temp = temporaryName(leaf);
        fd = openat(folderFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return failed(errno, kCreate);

    ReplaceResult result;
    if (int e = writeAll(fd, bytes)) {
        close(fd);
        result = failed(e, kWrite);
    } else {
        result = installReplacementAt(fd, folderFd, temp, folderFd, leaf, rights);
    }
    // Once renamed, the temporary name is no longer ours to remove.
    if (!result.ok() && result.step != kSyncFolder) unlinkat(folderFd, temp.c_str(), 0);
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
    if (name.empty() || name == "." || name == "..") return failed(EINVAL, kReplace);
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) return failed(errno, kCreate);
    ReplaceResult result = replaceFileAt(folderFd, name, bytes, rights);
    close(folderFd);
    return result;
}

}  // namespace vfs
