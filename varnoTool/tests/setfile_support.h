#pragma once
// Reading and writing the Finder information that SetFile changes, kept in
// the user namespace of extended attributes.

#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>

namespace setfile_test {

inline constexpr const char* kFinderInfoAttribute = "user.com.apple.FinderInfo";

// Whether the file system of a real folder keeps user extended attributes
// (tmpfs and some others do not).
inline bool userAttributesSupported(const std::string& realFolder) {
    const std::string probe = realFolder + "/.xattr-probe";
    FILE* f = fopen(probe.c_str(), "w");
    if (f == nullptr) return false;
    fclose(f);
    bool ok = setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
    unlink(probe.c_str());
    return ok;
}

// The attribute's bytes, or nullopt when the file has none.
inline std::optional<std::string> finderInfo(const std::string& realPath) {
    char buffer[256];
    ssize_t n = getxattr(realPath.c_str(), kFinderInfoAttribute, buffer, sizeof buffer);
    if (n < 0) return std::nullopt;
    return std::string(buffer, static_cast<size_t>(n));
}

inline bool setFinderInfo(const std::string& realPath, const std::string& bytes) {
    return setxattr(realPath.c_str(), kFinderInfoAttribute, bytes.data(), bytes.size(), 0) == 0;
}

// 32 bytes of Finder information: `head` (type and creator, at most 8 bytes)
// and the big-endian flags word at offset 8.
inline std::string finderInfoWith(std::uint16_t flags, const std::string& head = "") {
    std::string info(32, '\0');
    info.replace(0, head.size(), head);
    info[8] = static_cast<char>(flags >> 8);
    info[9] = static_cast<char>(flags & 0xFF);
    return info;
}

}  // namespace setfile_test
