#include "bundle/replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fs/open.h"

namespace bundle {
namespace {

// A folder descriptor and the name of the entry in it.
struct Entry {
    int dir = -1;
    std::string name;
    ~Entry() {
        if (dir >= 0) close(dir);
    }
};

int lstatRegular(const Entry& e, struct stat& st) {
    if (fstatat(e.dir, e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    return S_ISREG(st.st_mode) ? 0 : EINVAL;
}

}  // namespace

int replaceFileKeepingOwnerAndMode(const std::string& replacementPath,
                                   const std::string& targetPath) {
    // Both names are resolved once, to their folders and through no link;
    // every later step works relative to those, so a link swapped into a
    // leading component after the checks cannot send the rename elsewhere.
    Entry target, copy;
    target.dir = vfs::openParentFolderNoLinks(targetPath, &target.name);
    if (target.dir < 0) return errno;
    copy.dir = vfs::openParentFolderNoLinks(replacementPath, &copy.name);
    if (copy.dir < 0) return errno;

    struct stat old {};
    if (int e = lstatRegular(target, old)) return e;
    int fd = openat(copy.dir, copy.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP ? EINVAL : errno;
    struct stat st {};
    int result = 0;
    if (fstat(fd, &st) != 0)
        result = errno;
    else if (!S_ISREG(st.st_mode))
        result = EINVAL;
    // Ownership and mode are changed through the descriptor, never by name,
    // so a link planted at the copy's path cannot redirect them. chown clears
    // the set-ID bits, so the mode comes after it.
    if (result == 0 && (st.st_uid != old.st_uid || st.st_gid != old.st_gid) &&
        fchown(fd, old.st_uid, old.st_gid) != 0)
        result = errno;
    if (result == 0 && fchmod(fd, old.st_mode & 07777) != 0) result = errno;
    if (result == 0 && fsync(fd) != 0) result = errno;
    close(fd);
    // The name must still lead to the file just prepared.
    struct stat again {};
    if (result == 0 &&
        (lstatRegular(copy, again) != 0 || again.st_dev != st.st_dev || again.st_ino != st.st_ino))
        result = EINVAL;
    if (result == 0 && renameat(copy.dir, copy.name.c_str(), target.dir, target.name.c_str()) != 0)
        result = errno;
    return result;
}

}  // namespace bundle
