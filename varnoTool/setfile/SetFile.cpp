// SetFile: sets and clears the Finder's flags of files. The flag this suite
// needs is the invisible flag: "-a V" hides the files, "-a v" shows them.
//
// The flags live in the file's Finder information, 32 bytes kept as an
// extended attribute: the big-endian 16-bit flags word sits at offset 8 for
// files and folders alike. The platform names the attribute
// "com.apple.FinderInfo"; Linux keeps it in the user namespace of extended
// attributes. Paths are machine paths, found under the system root; a file
// is opened once without following any link (it may be run with more rights
// than whoever made the folders on the way) and changed through that open file.

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "fs/open.h"

namespace {

constexpr const char* kFinderInfoAttribute = "user.com.apple.FinderInfo";
constexpr std::size_t kFinderInfoSize = 32;
constexpr std::size_t kFlagsOffset = 8;
constexpr std::uint16_t kIsInvisible = 0x4000;

using FinderInfo = std::array<unsigned char, kFinderInfoSize>;

int usage() {
    fputs(
        "usage: SetFile -a v|V file ...\n"
        "  -a V  hides the files (sets the invisible flag)\n"
        "  -a v  shows them (clears it)\n",
        stderr);
    return 2;
}

// The change the attribute letters ask for: the flag bits to set and to clear.
bool parseAttributes(std::string_view letters, std::uint16_t* set, std::uint16_t* clear) {
    *set = *clear = 0;
    if (letters.empty()) return false;
    for (char c : letters) {
        if (c == 'V') {
            *set |= kIsInvisible;
            *clear &= static_cast<std::uint16_t>(~kIsInvisible);
        } else if (c == 'v') {
            *clear |= kIsInvisible;
            *set &= static_cast<std::uint16_t>(~kIsInvisible);
        } else {
            fprintf(stderr, "SetFile: unsupported attribute: %c\n", c);
            return false;
        }
    }
    return true;
}

// Reads the file's Finder information (all zero when it has none). 0 or an
// errno value; EINVAL for an attribute of the wrong size.
int readFinderInfo(int fd, FinderInfo* info) {
    info->fill(0);
    ssize_t n = fgetxattr(fd, kFinderInfoAttribute, info->data(), info->size());
    if (n < 0) {
        if (errno == ENODATA) return 0;
        return errno == ERANGE ? EINVAL : errno;
    }
    return static_cast<std::size_t>(n) == info->size() ? 0 : EINVAL;
}

// Writes it back; all-zero information is no information, as on the platform.
int writeFinderInfo(int fd, const FinderInfo& info) {
    bool empty = true;
    for (unsigned char b : info) empty = empty && b == 0;
    if (empty) {
        if (fremovexattr(fd, kFinderInfoAttribute) != 0 && errno != ENODATA) return errno;
        return 0;
    }
    return fsetxattr(fd, kFinderInfoAttribute, info.data(), info.size(), 0) == 0 ? 0 : errno;
}

bool changeFile(const char* file, std::uint16_t set, std::uint16_t clear) {
    // Non-blocking, so that a named pipe planted in the list cannot hold us.
    int fd = vfs::openMachinePathNoLinks(file, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    FinderInfo info;
    int error = fd < 0 ? errno : readFinderInfo(fd, &info);
    if (error == 0) {
        std::uint16_t flags =
            static_cast<std::uint16_t>(info[kFlagsOffset] << 8 | info[kFlagsOffset + 1]);
        flags = static_cast<std::uint16_t>((flags | set) & ~clear);
        info[kFlagsOffset] = static_cast<unsigned char>(flags >> 8);
        info[kFlagsOffset + 1] = static_cast<unsigned char>(flags & 0xFF);
        error = writeFinderInfo(fd, info);
    }
    if (fd >= 0) close(fd);
    if (error == 0) return true;
    if (error == ENOENT || error == ENOTDIR)
        fprintf(stderr, "SetFile: file not found: %s\n", file);
    else if (error == EINVAL)
        fprintf(stderr, "SetFile: cannot change %s: its Finder information is malformed\n", file);
    else
        fprintf(stderr, "SetFile: cannot change %s: %s\n", file, strerror(error));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // Only "-a LETTERS" is an option; everything after it names files, even
    // a name that begins with "-".
    if (argc < 4 || strcmp(argv[1], "-a") != 0) return usage();
    std::uint16_t set = 0;
    std::uint16_t clear = 0;
    if (!parseAttributes(argv[2], &set, &clear)) return usage();
    int status = 0;
    for (int i = 3; i < argc; ++i)
        if (!changeFile(argv[i], set, clear)) status = 1;
    return status;
}
