#pragma once
// Helpers shared by the file-system tests.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

// Builds `depth` nested folders named "d" below a real folder, working by
// descriptor since the full path soon exceeds PATH_MAX. Returns false on failure.
inline bool makeDeepTree(const std::string& realFolder, int depth) {
    int fd = open(realFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    for (int i = 0; i < depth; ++i) {
        int next = -1;
        if (mkdirat(fd, "d", 0755) == 0) next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        if (next < 0) return false;
        fd = next;
    }
    // A file at the bottom proves the walk got there.
    int f = openat(fd, "bottom", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    bool ok = f >= 0 && write(f, "12345", 5) == 5;
    if (f >= 0) close(f);
    close(fd);
    return ok;
}

inline bool writeReal(const std::string& path, const std::string& content) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    close(fd);
    return ok;
}

inline std::string readReal(const std::string& path) {
    std::string out;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "<missing>";
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fd);
    return out;
}

inline bool realExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}
