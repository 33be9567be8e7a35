#pragma once
// Architecture names as lipo spells them, and the machine's own architecture
// (the stand-in for NXGetLocalArchInfo).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bundle {

struct ArchInfo {
    std::string name;  // lipo's name, e.g. "ppc7400", "x86_64"
    std::int32_t cputype = 0;
    std::int32_t cpusubtype = 0;
};

// lipo's name for a CPU type and subtype (the subtype's capability bits
// masked off). A pair without a name is written "unknown(TYPE,SUBTYPE)" so
// that it stays one space-free word in lipo's listings.
std::string lipoName(std::int32_t cputype, std::int32_t cpusubtype);

// The CPU type and subtype a lipo name stands for; nullopt for no known name.
std::optional<ArchInfo> archInfoFromName(std::string_view name);

// Where a sandbox system root may declare the machine's architecture: the
// file holds one lipo name ("ppc", "ppc7400", "i386", "x86_64"), so tests can
// play a PowerPC or a 32-bit Intel machine on any host.
inline constexpr const char* kHostArchFile = "/private/var/db/kvx-host-arch";

// The machine's architecture: the one declared in kHostArchFile under the
// system root when that file names a known architecture, otherwise the real
// processor's (x86_64 gives CPU type 0x01000007). An unknown processor gives
// name "unknown" and CPU type -1 (any).
ArchInfo NXGetLocalArchInfo();

}  // namespace bundle
