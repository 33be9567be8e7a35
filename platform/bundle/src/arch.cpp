#include "bundle/arch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iterator>

#include "bundle/macho.h"
#include "fs/open.h"

namespace bundle {
namespace {

struct Name {
    const char* name;
    std::int32_t cputype;
    std::int32_t cpusubtype;
};

// The first entry of a CPU type and subtype is the name lipo prints.
const Name kNames[] = {
    {"ppc", kCPUTypePowerPC, 0},
    {"ppc601", kCPUTypePowerPC, 1},
    {"ppc603", kCPUTypePowerPC, 3},
    {"ppc603e", kCPUTypePowerPC, 4},
    {"ppc603ev", kCPUTypePowerPC, 5},
    {"ppc604", kCPUTypePowerPC, 6},
    {"ppc604e", kCPUTypePowerPC, 7},
    {"ppc750", kCPUTypePowerPC, 9},
    {"ppc7400", kCPUTypePowerPC, 10},
    {"ppc7450", kCPUTypePowerPC, 11},
    {"ppc970", kCPUTypePowerPC, 100},
    {"ppc64", kCPUTypePowerPC64, 0},
    {"ppc970-64", kCPUTypePowerPC64, 100},
    {"i386", kCPUTypeI386, 3},
    {"i486", kCPUTypeI386, 4},
    {"pentium", kCPUTypeI386, 5},
    {"x86_64", kCPUTypeX86_64, 3},
    {"x86_64h", kCPUTypeX86_64, 8},
    {"arm64", kCPUTypeARM64, 0},
};

std::int32_t masked(std::int32_t subtype) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(subtype) & kCPUSubtypeMask);
}

// The declared architecture of a sandbox, if its file names a known one.
std::optional<ArchInfo> declaredArch() {
    int fd = vfs::openMachinePath(kHostArchFile, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    char buf[64];
    ssize_t n = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = read(fd, buf, sizeof buf);
    close(fd);
    if (n <= 0) return std::nullopt;
    std::string_view text(buf, static_cast<size_t>(n));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.remove_suffix(1);
    return archInfoFromName(text);
}

ArchInfo processorArch() {
    struct utsname u {};
    if (uname(&u) == 0) {
        std::string_view m = u.machine;
        const char* name = nullptr;
        if (m == "x86_64")
            name = "x86_64";
        else if (m == "i386" || m == "i486" || m == "i586" || m == "i686")
            name = "i386";
        else if (m == "ppc64" || m == "ppc64le")
            name = "ppc64";
        else if (m == "ppc")
            name = "ppc";
        else if (m == "aarch64" || m == "arm64")
            name = "arm64";
        if (name != nullptr) return *archInfoFromName(name);
    }
    return ArchInfo{"unknown", -1, -1};
}

}  // namespace

std::string lipoName(std::int32_t cputype, std::int32_t cpusubtype) {
    std::int32_t sub = masked(cpusubtype);
    for (const Name& n : kNames) {
        if (n.cputype == cputype && n.cpusubtype == sub) return n.name;
    }
    char buf[48];
    std::snprintf(buf, sizeof buf, "unknown(%d,%d)", static_cast<int>(cputype),
                  static_cast<int>(sub));
    return buf;
}

std::optional<ArchInfo> archInfoFromName(std::string_view name) {
    for (const Name& n : kNames) {
        if (name == n.name) return ArchInfo{n.name, n.cputype, n.cpusubtype};
    }
    return std::nullopt;
}

ArchInfo NXGetLocalArchInfo() {
    if (auto declared = declaredArch()) return *declared;
    return processorArch();
}

}  // namespace bundle
