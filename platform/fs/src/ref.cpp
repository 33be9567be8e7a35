#include "fs/ref.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fs/open.h"

namespace vfs {

FSCatalogInfo catalogInfoFromStat(const struct stat& st) {
    FSCatalogInfo info;
    info.device = st.st_dev;
    info.inode = st.st_ino;
    info.linkCount = st.st_nlink;
    if (S_ISDIR(st.st_mode)) {
        info.kind = NodeKind::Folder;
        info.nodeFlags = kFSNodeIsDirectoryMask;
    } else if (S_ISLNK(st.st_mode)) {
        info.kind = NodeKind::SymbolicLink;
        info.fileType = kSymLinkFileType;
        info.dataLogicalSize = static_cast<std::uint64_t>(st.st_size);
    } else if (S_ISREG(st.st_mode)) {
        info.kind = NodeKind::File;
        info.dataLogicalSize = static_cast<std::uint64_t>(st.st_size);
    } else {
        info.kind = NodeKind::Other;
    }
    return info;
}

int lstatMachinePath(std::string_view machinePath, struct stat* st) {
    std::string path = normalizedMachinePath(machinePath);
    if (path == "/") {
        int fd = openMachinePath("/", O_PATH | O_DIRECTORY);
        if (fd < 0) return errno;
        int rc = fstat(fd, st);
        int saved = errno;
        close(fd);
        return rc == 0 ? 0 : saved;
    }
    std::string leaf;
    int dirFd = openParentFolder(path, &leaf);
    if (dirFd < 0) return errno == EINVAL ? ENOENT : errno;
    int rc = fstatat(dirFd, leaf.c_str(), st, AT_SYMLINK_NOFOLLOW);
    int saved = errno;
    close(dirFd);
    return rc == 0 ? 0 : saved;
}

OSErr FSPathMakeRef(std::string_view machinePath, FSRef* ref) {
    *ref = FSRef();
    struct stat st {};
    int error = lstatMachinePath(machinePath, &st);
    if (error != 0) return osErrFromErrno(error);
    ref->path_ = normalizedMachinePath(machinePath);
    ref->device_ = st.st_dev;
    ref->inode_ = st.st_ino;
    ref->valid_ = true;
    return noErr;
}

OSErr FSGetCatalogInfo(const FSRef& ref, FSCatalogInfo* info) {
    if (!ref.isValid()) return nsvErr;
    struct stat st {};
    int error = lstatMachinePath(ref.path(), &st);
    if (error != 0) return osErrFromErrno(error);
    if (st.st_dev != ref.device() || st.st_ino != ref.inode()) return fnfErr;
    *info = catalogInfoFromStat(st);
    return noErr;
}

OSErr FSRefMakePath(const FSRef& ref, std::string* path, std::size_t bufferSize) {
    if (!ref.isValid()) return nsvErr;
    if (ref.path().size() + 1 > bufferSize) return pathTooLongErr;
    *path = ref.path();
    return noErr;
}

OSErr FSIsAliasFile(const FSRef& ref, bool* isAlias, bool* isFolder) {
    if (!ref.isValid()) return nsvErr;
    *isAlias = false;
    *isFolder = false;
    return noErr;
}

}  // namespace vfs
