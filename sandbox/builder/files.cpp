#include "files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace sandbox_builder {
namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw std::runtime_error("cannot " + what + " " + path + ": " + strerror(errno));
}

void writeAll(int fd, const char* data, size_t size, const std::string& path) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail("write", path);
        data += n;
        size -= static_cast<size_t>(n);
    }
}

int createFile(const std::string& path, mode_t mode) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) fail("create", path);
    if (fchmod(fd, mode) != 0) fail("set the mode of", path);
    return fd;
}

void closeFile(int fd, const std::string& path) {
    if (close(fd) != 0) fail("close", path);
}

}  // namespace

void makeFolder(const std::string& path, mode_t mode) {
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        std::string parent = path.substr(0, slash);
        struct stat st {};
        if (lstat(parent.c_str(), &st) != 0) makeFolder(parent, 0755);
    }
    if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST) fail("create the folder", path);
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) fail("examine", path);
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        fail("create the folder", path);
    }
    if (chmod(path.c_str(), mode) != 0) fail("set the mode of", path);
}

void writeFile(const std::string& path, std::string_view content, mode_t mode) {
    int fd = createFile(path, mode);
    writeAll(fd, content.data(), content.size(), path);
    closeFile(fd, path);
}

void writeGeneratedFile(const std::string& path, std::uint64_t size, FillFunction fill,
                        std::uint64_t seed, mode_t mode) {
    int fd = createFile(path, mode);
    std::vector<char> buffer(64 * 1024);
    for (std::uint64_t offset = 0; offset < size;) {
        size_t chunk = static_cast<size_t>(std::min<std::uint64_t>(buffer.size(), size - offset));
        fill(buffer.data(), chunk, offset, seed);
        writeAll(fd, buffer.data(), chunk, path);
        offset += chunk;
    }
    closeFile(fd, path);
}

void copyFile(const std::string& from, const std::string& to, mode_t mode) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) fail("open", from);
    int out = createFile(to, mode);
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("read", from);
        if (n == 0) break;
        writeAll(out, buffer, static_cast<size_t>(n), to);
    }
    close(in);
    closeFile(out, to);
}

void copyTree(const std::string& from, const std::string& to) {
    struct stat st {};
    if (lstat(from.c_str(), &st) != 0) fail("examine", from);
    mode_t mode = st.st_mode & 01777;
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> target(static_cast<size_t>(st.st_size) + 1);
        ssize_t n = readlink(from.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<size_t>(n) >= target.size()) fail("read the link", from);
        makeSymlink(std::string(target.data(), static_cast<size_t>(n)), to);
    } else if (S_ISREG(st.st_mode)) {
        copyFile(from, to, mode);
    } else if (S_ISDIR(st.st_mode)) {
        makeFolder(to, mode | S_IRWXU);
        DIR* dir = opendir(from.c_str());
        if (dir == nullptr) fail("list", from);
        std::vector<std::string> names;
        errno = 0;
        while (dirent* entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        }
        int listError = errno;
        closedir(dir);
        errno = listError;
        if (listError != 0) fail("list", from);
        for (const std::string& name : names) copyTree(from + "/" + name, to + "/" + name);
        if (chmod(to.c_str(), mode) != 0) fail("set the mode of", to);
    }
}

void makeSymlink(const std::string& target, const std::string& path) {
    if (symlink(target.c_str(), path.c_str()) != 0) fail("create the link", path);
}

void giveTo(const std::string& path, uid_t uid, gid_t gid) {
    if (geteuid() != 0) return;
    if (lchown(path.c_str(), uid, gid) != 0) fail("change the owner of", path);
}

bool isAbsent(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

}  // namespace sandbox_builder
