#include "host/spotlight.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "fs/replace.h"
#include "host/root.h"
#include "plist/plist.h"

namespace host {
namespace {

constexpr const char* kLeaf = "VolumeConfiguration.plist";
// The real file holds a few small dictionaries; anything far larger is not it.
constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

// The store folder, opened and locked for the caller. -1 with errno set.
int openLockedStore(bool create) {
    const std::string folder = realPath(kSpotlightStoreFolder);
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create) {
        // Only the indexer (root) may look inside, as on the platform.
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return -1;
        fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) return -1;
    int locked;
    while ((locked = flock(fd, create ? LOCK_EX : LOCK_SH)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

// 0 with the file's bytes (empty and *exists false when there is none), or
// an errno value.
int readConfiguration(int folderFd, std::string* bytes, bool* exists) {
    *exists = false;
    int fd = openat(folderFd, kLeaf, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? 0 : errno;
    int error = 0;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        error = EINVAL;
    } else {
        char buffer[65536];
        for (;;) {
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error = errno;
                break;
            }
            if (n == 0) break;
            if (bytes->size() + static_cast<std::size_t>(n) > kMaxFileSize) {
                error = EFBIG;
                break;
            }
            bytes->append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    *exists = error == 0;
    return error;
}

// Replaced whole: the indexer reads it at any moment. An existing file keeps
// its owner and mode; a new one is the indexer's alone, as is its folder.
int replaceConfiguration(int folderFd, const std::string& bytes) {
    return vfs::replaceFileAt(folderFd, kLeaf, bytes, vfs::ReplacementRights::newFileMode(0600))
        .error;
}

}  // namespace

std::optional<std::vector<std::string>> _MDCopyExclusionList() {
    int folderFd = openLockedStore(false);
    if (folderFd < 0) return std::nullopt;
    std::string bytes;
    bool exists = false;
    int error = readConfiguration(folderFd, &bytes, &exists);
    close(folderFd);
    if (error != 0 || !exists) return std::nullopt;
    std::optional<plist::Value> configuration = plist::parse(bytes);
    const plist::Value* exclusions =
        configuration ? configuration->find(kSpotlightExclusionsKey) : nullptr;
    if (exclusions == nullptr || !exclusions->isArray()) return std::nullopt;
    std::vector<std::string> paths;
    for (const plist::Value& entry : *exclusions->asArray())
        if (const std::string* path = entry.asString()) paths.push_back(*path);
    return paths;
}

int _MDSetExclusion(std::string_view path, bool exclude) {
    int folderFd = openLockedStore(true);
    if (folderFd < 0) return errno;
    std::string bytes;
    bool exists = false;
    int error = readConfiguration(folderFd, &bytes, &exists);
    plist::Value configuration{plist::Dictionary{}};
    if (error == 0 && exists) {
        std::optional<plist::Value> parsed = plist::parse(bytes);
        if (parsed && parsed->isDictionary())
            configuration = std::move(*parsed);
        else
            error = EINVAL;
    }
    plist::Dictionary& top = *configuration.asDictionary();
    auto entry = top.try_emplace(kSpotlightExclusionsKey, plist::Value(plist::Array{})).first;
    // A value of another type is not ours to replace.
    if (error == 0 && !entry->second.isArray()) error = EINVAL;
    if (error == 0) {
        plist::Array& list = *entry->second.asArray();
        auto equal = [&](const plist::Value& v) { return v.asString() && *v.asString() == path; };
        bool present = std::any_of(list.begin(), list.end(), equal);
        if (exclude && !present) {
            list.push_back(plist::Value(path));
            error = replaceConfiguration(folderFd, plist::writeXML(configuration));
        } else if (!exclude && present) {
            list.erase(std::remove_if(list.begin(), list.end(), equal), list.end());
            error = replaceConfiguration(folderFd, plist::writeXML(configuration));
        }
    }
    close(folderFd);
    return error;
}

}  // namespace host
