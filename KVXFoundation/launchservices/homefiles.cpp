#include "homefiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fs/open.h"
#include "fs/replace.h"

namespace lsfl::detail {

int openFolder(const std::string& machinePath) {
    return vfs::openMachinePath(machinePath, O_RDONLY | O_DIRECTORY);
}

int openFolderCreating(const std::string& home, std::string_view relative) {
    int fd = openFolder(home.empty() ? std::string("/") : home);
    if (fd < 0) return -1;
    while (!relative.empty()) {
        std::size_t slash = relative.find('/');
        std::string name(relative.substr(0, slash));
        relative =
            slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
        if (name.empty()) continue;
        if (mkdirat(fd, name.c_str(), 0700) != 0 && errno != EEXIST) {
            int error = errno;
            close(fd);
            errno = error;
            return -1;
        }
        int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int error = errno;
        close(fd);
        if (next < 0) {
            errno = error;
            return -1;
        }
        fd = next;
    }
    return fd;
}

std::optional<std::string> readSmallFile(int folderFd, const std::string& name,
                                         std::size_t maxSize) {
    int fd = openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    int error = 0;
    if (fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode))
        error = EINVAL;
    else if (static_cast<std::size_t>(st.st_size) > maxSize)
        error = EFBIG;
    std::string data;
    char buffer[8192];
    while (error == 0) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = errno;
        if (n <= 0) break;
        data.append(buffer, static_cast<std::size_t>(n));
        if (data.size() > maxSize) error = EFBIG;
    }
    close(fd);
    if (error != 0) {
        errno = error;
        return std::nullopt;
    }
    return data;
}

int replaceFile(int folderFd, const std::string& name, std::string_view bytes, mode_t mode) {
    // Always `mode`, whatever the file had: these files are ours alone.
    return vfs::replaceFileAt(folderFd, name, bytes, vfs::ReplacementRights::asNew(mode)).error;
}

}  // namespace lsfl::detail
