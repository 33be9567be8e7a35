#include "bundle/replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fs/open.h"
#include "fs/replace.h"

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
    if (result != 0) {
        close(fd);
        return result;
    }
    // Owner and mode are set through the descriptor, never by name, so a
    // link planted at the copy's path cannot redirect them; failing to give
    // the copy the executable's owner is an error.
    return vfs::installReplacementAt(
               fd, copy.dir, copy.name, target.dir, target.name,
               vfs::ReplacementRights::exactly(old.st_mode & 07777, old.st_uid, old.st_gid))
        .error;
}

}  // namespace bundle
