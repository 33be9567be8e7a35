#include "host/system.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <vector>

#include "host/root.h"
#include "plist/plist.h"

namespace host {
namespace {

constexpr const char* kSystemVersionPlist = "/System/Library/CoreServices/SystemVersion.plist";
constexpr const char* kPasswdFile = "/etc/passwd";
// Neither file is ever this large; a larger one is not read.
constexpr size_t kMaxFileSize = 4 * 1024 * 1024;

std::optional<std::string> readSmallFile(const std::string& machinePath) {
    int fd = open(realPath(machinePath).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string data;
    char buffer[8192];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) break;
        if (n < 0 || data.size() + static_cast<size_t>(n) > kMaxFileSize) {
            close(fd);
            return std::nullopt;
        }
        data.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return data;
}

bool parseNumber(std::string_view text, unsigned* out) {
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return ec == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string_view::npos ? at : at - start));
        if (at == std::string_view::npos) return parts;
        start = at + 1;
    }
}

}  // namespace

std::int32_t packedSystemVersion(std::string_view productVersion) {
    std::vector<std::string_view> parts = split(productVersion, '.');
    if (parts.size() < 2 || parts.size() > 3) return 0;
    unsigned numbers[3] = {0, 0, 0};
    for (size_t i = 0; i < parts.size(); ++i)
        if (!parseNumber(parts[i], &numbers[i])) return 0;
    unsigned major = numbers[0];
    if (major == 0 || major > 99) return 0;
    unsigned minor = numbers[1] > 9 ? 9 : numbers[1];
    unsigned bugfix = numbers[2] > 9 ? 9 : numbers[2];
    return static_cast<std::int32_t>((major / 10) << 12 | (major % 10) << 8 | minor << 4 | bugfix);
}

std::int32_t systemVersion() {
    std::optional<std::string> data = readSmallFile(kSystemVersionPlist);
    if (!data) return 0;
    std::optional<plist::Value> root = plist::parse(*data);
    if (!root) return 0;
    const plist::Value* version = root->find("ProductVersion");
    if (version == nullptr || version->asString() == nullptr) return 0;
    return packedSystemVersion(*version->asString());
}

std::optional<std::string> homeFolderForUserID(uid_t uid) {
    if (std::optional<std::string> passwd = readSmallFile(kPasswdFile)) {
        for (std::string_view line : split(*passwd, '\n')) {
            std::vector<std::string_view> fields = split(line, ':');
            unsigned id = 0;
            if (fields.size() >= 7 && parseNumber(fields[2], &id) && id == uid &&
                !fields[5].empty())
                return std::string(fields[5]);
        }
        return std::nullopt;
    }
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr || found->pw_dir[0] == '\0')
        return std::nullopt;
    return std::string(found->pw_dir);
}

std::optional<std::string> currentUserHomeFolder() {
    return homeFolderForUserID(getuid());
}

std::string homeFolderForUserName(std::string_view shortName) {
    std::string home("/Users/");
    home += shortName;
    return home;
}

}  // namespace host
