#include "bundle/machofixtures.h"

#include <unistd.h>

#include <stdexcept>

#include "bundle/arch.h"
#include "bundle/macho.h"

namespace bundle::testing {
namespace {

constexpr std::uint32_t kExecute = 2;  // MH_EXECUTE
constexpr std::uint32_t kLoadCommandUUID = 0x1b;

void put32(std::string& b, std::size_t at, std::uint32_t v, bool bigEndian) {
    for (int i = 0; i < 4; ++i) {
        int shift = bigEndian ? 24 - 8 * i : 8 * i;
        b[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> shift) & 0xff);
    }
}

}  // namespace

void putBE32(std::string& bytes, std::size_t at, std::uint32_t value) {
    put32(bytes, at, value, true);
}

std::uint32_t getBE32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

std::string llvmTool(const std::string& name) {
    for (std::string dir : {"/usr/bin/", "/usr/lib/llvm-14/bin/"}) {
        for (std::string candidate : {dir + name + "-14", dir + name}) {
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
        }
    }
    return "";
}

std::string thinMachO(const std::string& arch, std::size_t size) {
    auto info = archInfoFromName(arch);
    if (!info) throw std::invalid_argument("no such architecture: " + arch);
    if (size < 64) throw std::invalid_argument("a Mach-O fixture needs at least 64 bytes");
    bool is64 = (static_cast<std::uint32_t>(info->cputype) & 0x01000000) != 0;
    bool bigEndian = info->cputype == kCPUTypePowerPC || info->cputype == kCPUTypePowerPC64;
    std::size_t headerSize = is64 ? 32 : 28;

    std::string b(size, '\0');
    // Filler that differs per architecture, so slices are told apart by bytes.
    std::uint32_t seed = 2166136261u;
    for (char c : arch) seed = (seed ^ static_cast<unsigned char>(c)) * 16777619u;
    for (std::size_t i = headerSize + 24; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = static_cast<char>(seed >> 16);
    }
    put32(b, 0, is64 ? 0xfeedfacf : 0xfeedface, bigEndian);
    put32(b, 4, static_cast<std::uint32_t>(info->cputype), bigEndian);
    put32(b, 8, static_cast<std::uint32_t>(info->cpusubtype), bigEndian);
    put32(b, 12, kExecute, bigEndian);
    put32(b, 16, 1, bigEndian);   // ncmds
    put32(b, 20, 24, bigEndian);  // sizeofcmds
    put32(b, 24, 0, bigEndian);   // flags
    put32(b, headerSize, kLoadCommandUUID, bigEndian);
    put32(b, headerSize + 4, 24, bigEndian);
    for (std::size_t i = 0; i < 16; ++i) b[headerSize + 8 + i] = static_cast<char>(seed >> i);
    return b;
}

std::string fatMachO(const std::vector<std::string>& archs, std::size_t sliceSize,
                     std::uint32_t align) {
    std::size_t n = archs.size();
    std::string b(kFatHeaderSize + n * kFatArchSize, '\0');
    putBE32(b, 0, kFatMagic);
    putBE32(b, 4, static_cast<std::uint32_t>(n));
    std::size_t step = std::size_t{1} << align;
    for (std::size_t i = 0; i < n; ++i) {
        auto info = archInfoFromName(archs[i]);
        if (!info) throw std::invalid_argument("no such architecture: " + archs[i]);
        std::size_t offset = (b.size() + step - 1) / step * step;
        b.resize(offset, '\0');
        b += thinMachO(archs[i], sliceSize);
        std::size_t r = kFatHeaderSize + i * kFatArchSize;
        putBE32(b, r, static_cast<std::uint32_t>(info->cputype));
        putBE32(b, r + 4, static_cast<std::uint32_t>(info->cpusubtype));
        putBE32(b, r + 8, static_cast<std::uint32_t>(offset));
        putBE32(b, r + 12, static_cast<std::uint32_t>(sliceSize));
        putBE32(b, r + 16, align);
    }
    return b;
}

}  // namespace bundle::testing
