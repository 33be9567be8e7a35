#include "bundle/bundle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "bundle/macho.h"
#include "fs/open.h"
#include "plist/plist.h"

namespace bundle {
namespace {

// An Info.plist larger than this is not one.
constexpr off_t kMaxInfoPlistSize = 8 << 20;

std::optional<std::string> readSmallRegularFile(const std::string& machinePath) {
    int fd = vfs::openMachinePath(machinePath, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<std::string> content;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxInfoPlistSize) {
        std::string data(static_cast<size_t>(st.st_size), '\0');
        size_t done = 0;
        while (done < data.size()) {
            ssize_t n = read(fd, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        data.resize(done);
        content = std::move(data);
    }
    close(fd);
    return content;
}

std::optional<std::string> executableNameFromInfoPlist(const std::string& bundleMachinePath) {
    auto bytes = readSmallRegularFile(bundleMachinePath + "/Contents/Info.plist");
    if (!bytes) return std::nullopt;
    auto info = plist::parse(*bytes);
    if (!info) return std::nullopt;
    const plist::Value* name = info->find("CFBundleExecutable");
    const std::string* s = name == nullptr ? nullptr : name->asString();
    // The name must stay a file inside "Contents/MacOS/".
    if (s == nullptr || s->empty() || *s == "." || *s == ".." ||
        s->find('/') != std::string::npos || s->find('\0') != std::string::npos)
        return std::nullopt;
    return *s;
}

bool isFolder(const std::string& machinePath) {
    int fd = vfs::openMachinePath(machinePath, O_PATH | O_DIRECTORY);
    if (fd < 0) return false;
    close(fd);
    return true;
}

// A regular file, not a link, at the machine path.
bool isRegularFile(const std::string& machinePath) {
    std::string leaf;
    int dir = vfs::openParentFolder(machinePath, &leaf);
    if (dir < 0) return false;
    struct stat st {};
    bool regular = fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
    close(dir);
    return regular;
}

}  // namespace

std::optional<Bundle> Bundle::create(const std::string& machinePath) {
    std::string path = vfs::normalizedMachinePath(machinePath);
    if (path.empty() || !isFolder(path)) return std::nullopt;
    return Bundle(path, executableNameFromInfoPlist(path));
}

std::optional<std::string> Bundle::executablePath() const {
    if (!executableName_) return std::nullopt;
    std::string exe = path_ + "/Contents/MacOS/" + *executableName_;
    // A link is not taken: replacing the executable would replace the link
    // with a copy of whatever it points at.
    if (!isRegularFile(exe)) return std::nullopt;
    return exe;
}

std::vector<std::int32_t> Bundle::executableArchitectures() const {
    auto exe = executablePath();
    if (!exe) return {};
    return executableArchitecturesAtPath(*exe);
}

std::vector<std::int32_t> executableArchitecturesAtPath(const std::string& machinePath) {
    std::vector<std::int32_t> types;
    auto file = readMachOAtPath(machinePath);
    if (!file) return types;
    for (const Slice& s : file->slices) {
        if (std::find(types.begin(), types.end(), s.cputype) == types.end())
            types.push_back(s.cputype);
    }
    return types;
}

}  // namespace bundle
