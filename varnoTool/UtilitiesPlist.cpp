// Property-list files, the home folder's name and the bundle's resources.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Protocol.h"
#include "Utilities.h"
#include "fs/errors.h"
#include "fs/open.h"
#include "fs/replace.h"
#include "host/root.h"
#include "host/self.h"
#include "host/system.h"

namespace {

// No property list the executor reads comes near this; a larger file is
// refused rather than read into memory.
constexpr std::size_t kMaxPropertyListFile = 64 * 1024 * 1024;

enum class ReadResult { Ok, CannotOpen, TooLarge };

ReadResult readWholeFile(const std::string& machinePath, std::string* data) {
    // No link a user made is followed, and a named pipe cannot hold us.
    int fd = vfs::openMachinePathNoLinks(machinePath, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return ReadResult::CannotOpen;
    char buffer[65536];
    ReadResult result = ReadResult::Ok;
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result = ReadResult::CannotOpen;  // a folder, or an unreadable file
            break;
        }
        if (n == 0) break;
        if (data->size() + static_cast<std::size_t>(n) > kMaxPropertyListFile) {
            result = ReadResult::TooLarge;
            break;
        }
        data->append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return result;
}

}  // namespace

std::string userFolderName() {
    std::optional<std::string> home = host::currentUserHomeFolder();
    if (!home) {
        printf("\t*** Error %d getting home directory\n", vfs::fnfErr);
        exit(vfs::fnfErr);
    }
    return lastPathComponent(*home, true);
}

std::string pathForResourceNamed(std::string_view name) {
    // The main bundle: the application folder around Contents/MacOS, or the
    // executable's own folder for a bare tool.
    std::string folder = removeLastPathComponent(host::executablePath().value_or("/"), false);
    constexpr std::string_view kMacOS = "/Contents/MacOS";
    if (folder.size() > kMacOS.size() &&
        std::string_view(folder).substr(folder.size() - kMacOS.size()) == kMacOS)
        folder.resize(folder.size() - kMacOS.size());
    std::string path = appendPathComponent(
        appendPathComponent(appendPathComponent(folder, "Contents", true), "Resources", true), name,
        false);
    return host::machinePath(path);
}

namespace {

// Root's, and writable by no one else: not by others, and by its group only
// when that is root's own group. In a sticky folder anyone may add entries
// but none may replace root's.
int openResourceIn(const std::string& folder, std::string_view name);

bool onlyRootCanChange(const struct stat& st, bool folder) {
    if (st.st_uid != 0) return false;
    if ((st.st_mode & S_IWGRP) != 0 && st.st_gid != 0 && !(folder && (st.st_mode & S_ISVTX)))
        return false;
    return (st.st_mode & S_IWOTH) == 0 || (folder && (st.st_mode & S_ISVTX) != 0);
}

}  // namespace

namespace utilities_seams {
std::string resourcesFolder;
}  // namespace utilities_seams

int openOwnResource(std::string_view name) {
    if (!utilities_seams::resourcesFolder.empty())
        return openResourceIn(utilities_seams::resourcesFolder, name);
    std::optional<std::string> exe = host::executablePath();
    if (!exe) return -1;
    std::string folder = *exe;
    folder.erase(folder.rfind('/'));
    constexpr std::string_view kMacOS = "/Contents/MacOS";
    if (folder.size() <= kMacOS.size() ||
        std::string_view(folder).substr(folder.size() - kMacOS.size()) != kMacOS) {
        errno = ENOENT;
        return -1;
    }
    folder.resize(folder.size() - kMacOS.size());
    return openResourceIn(folder + "/Contents/Resources", name);
}

namespace {

int openResourceIn(const std::string& folder, std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos || folder.empty() ||
        folder[0] != '/') {
        errno = ENOENT;
        return -1;
    }
    // Each step is checked before the next is taken from it.
    auto checked = [](int fd, bool isFolder) {
        struct stat st {};
        if (fd >= 0 &&
            (fstat(fd, &st) != 0 || (isFolder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) ||
             !onlyRootCanChange(st, isFolder))) {
            close(fd);
            errno = EPERM;
            return -1;
        }
        return fd;
    };
    int fd = checked(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC), true);
    for (std::size_t pos = 1; fd >= 0 && pos < folder.size();) {
        std::size_t slash = std::min(folder.find('/', pos), folder.size());
        std::string component = folder.substr(pos, slash - pos);
        pos = slash + 1;
        if (component.empty()) continue;
        int next = openat(fd, component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int error = errno;
        close(fd);
        errno = error;
        fd = checked(next, true);
    }
    if (fd < 0) return -1;
    int file =
        openat(fd, std::string(name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    int error = errno;
    close(fd);
    errno = error;
    return checked(file, false);
}

}  // namespace

std::optional<std::string> readDescriptor(int fd, std::size_t limit) {
    std::string data;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return data;
        if (data.size() + static_cast<std::size_t>(n) > limit) return std::nullopt;
        data.append(buffer, static_cast<std::size_t>(n));
    }
}

std::optional<plist::Dictionary> dictionaryAtPath(const std::optional<std::string>& path) {
    if (!path) return std::nullopt;
    std::string data;
    ReadResult read = readWholeFile(*path, &data);
    if (read == ReadResult::CannotOpen) {
        wstrnl("\t***Error openning read stream in dictionaryAtPath.");
        return std::nullopt;
    }
    plist::ParseError error;
    std::optional<plist::Value> value;
    if (read == ReadResult::TooLarge)
        error.message = "the file is too large";
    else
        value = plist::parse(data, &error);
    // Only a dictionary is what the callers asked for.
    if (value && !value->isDictionary()) {
        value.reset();
        error.message = "the property list is not a dictionary";
    }
    if (!value) {
        wstr("\t***Error creating dictionary in dictionaryAtPath: ");
        showStringNL(error.message);
        return std::nullopt;
    }
    return std::move(*value->asDictionary());
}

bool writeDictionaryToPath(const plist::Dictionary* dictionary,
                           const std::optional<std::string>& path) {
    if (dictionary == nullptr || !path) return true;
    std::string leaf;
    const int folderFd = vfs::openParentFolderNoLinks(*path, &leaf);
    vfs::ReplaceResult replaced{ENOENT, "create a file beside"};  // without a folder
    if (folderFd >= 0) {
        // A new file is 0644 whatever the umask; an existing one keeps its
        // owner and mode.
        replaced = vfs::replaceFileAt(folderFd, leaf, plist::writeXML(plist::Value(*dictionary)),
                                      vfs::ReplacementRights::newFileMode(0644));
        close(folderFd);
    }
    if (replaced.ok()) return true;
    // A folder in the file's place, or no file could be made beside it.
    if (replaced.error == EISDIR || std::string_view(replaced.step) == "create a file beside") {
        wstrnl("\t*** Error opening write stream in writeDictionaryToPath.");
    } else {
        std::string message = "\t*** Error writing property list: ";
        message += strerror(replaced.error);
        message += "\n";
        showString(message);
    }
    return false;
}
