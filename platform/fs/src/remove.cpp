#include "fs/remove.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "fs/open.h"
#include "fs/overwrite.h"
#include "fs/walk.h"

namespace vfs {
namespace {

// Overwrites a regular file's data in place. Only a file that is what was
// listed and has no other name is touched.
int overwrite(int folderFd, const char* name, const FSCatalogInfo& listed,
              removefile_flags_t flags) {
    if (listed.kind != NodeKind::File) return 0;
    int fd = openat(folderFd, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP ? 0 : errno;
    struct stat st {};
    int error = 0;
    if (fstat(fd, &st) != 0) {
        error = errno;
    } else if (S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_dev == listed.device &&
               st.st_ino == listed.inode) {
        error = overwriteFileData(fd, st.st_size, flags);
    }
    close(fd);
    return error;
}

class Remover {
  public:
    explicit Remover(removefile_flags_t flags)
        : flags_(secureOverwritePassCount(flags) > 0 ? flags : 0) {}

    int firstError() const { return firstError_; }

    void note(int error) {
        if (error != 0 && firstError_ == 0) firstError_ = error;
    }

    void removeFile(int folderFd, const char* name, const FSCatalogInfo& info) {
        if (flags_ != 0) note(overwrite(folderFd, name, info, flags_));
        if (unlinkat(folderFd, name, 0) != 0 && errno != ENOENT) note(errno);
    }

    void removeContents(int folderFd) {
        WalkCallbacks cb;
        cb.entry = [this](const WalkEntry& e) {
            if (e.info.isFolder()) return true;
            removeFile(e.folderFd, std::string(e.name).c_str(), e.info);
            return false;
        };
        cb.leave = [this](const WalkEntry& e) {
            if (unlinkat(e.folderFd, std::string(e.name).c_str(), AT_REMOVEDIR) != 0 &&
                errno != ENOENT)
                note(errno);
        };
        cb.error = [this](const WalkEntry&, int error) { note(error); };
        note(walkFolderFd(folderFd, WalkOrder::ByName, cb));
    }

  private:
    removefile_flags_t flags_;  // non-zero only when files are overwritten first
    int firstError_ = 0;
};

}  // namespace

int removeFolderContents(int folderFd, removefile_flags_t flags) {
    Remover remover(flags);
    remover.removeContents(folderFd);
    return remover.firstError();
}

int removefile(std::string_view machinePath, removefile_flags_t flags) {
    std::string leaf;
    // A link a user planted on the way (a folder of their home swapped for a
    // link to a machine folder) must not lead a root removal elsewhere.
    int parentFd = openParentFolderNoLinks(machinePath, &leaf);
    if (parentFd < 0) return errno;
    Remover remover(flags);
    struct stat st {};
    if (fstatat(parentFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        remover.note(errno);
    } else if (!S_ISDIR(st.st_mode)) {
        remover.removeFile(parentFd, leaf.c_str(), catalogInfoFromStat(st));
    } else {
        bool keep = (flags & REMOVEFILE_KEEP_PARENT) != 0;
        if (flags & REMOVEFILE_RECURSIVE) {
            int fd =
                openat(parentFd, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0 && (errno == ELOOP || errno == ENOTDIR) &&
                fstatat(parentFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                !S_ISDIR(st.st_mode)) {
                // Swapped for a link or file since it was looked at.
                remover.removeFile(parentFd, leaf.c_str(), catalogInfoFromStat(st));
                keep = true;
            } else if (fd < 0) {
                remover.note(errno);
            } else {
                remover.removeContents(fd);
                close(fd);
            }
        }
        if (!keep && unlinkat(parentFd, leaf.c_str(), AT_REMOVEDIR) != 0) remover.note(errno);
    }
    close(parentFd);
    return remover.firstError();
}

}  // namespace vfs
