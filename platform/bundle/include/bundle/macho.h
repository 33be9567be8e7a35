#pragma once
// The architectures of a Mach-O file, read from its headers: universal (fat)
// files and thin 32- and 64-bit files in either byte order. Every count and
// offset is checked against the file's size; a truncated or hostile file
// gives no architectures and never more than its headers are read.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bundle {

// CPU types as Mach-O numbers them.
inline constexpr std::int32_t kCPUTypeI386 = 7;
inline constexpr std::int32_t kCPUTypeX86_64 = 0x01000007;
inline constexpr std::int32_t kCPUTypePowerPC = 18;
inline constexpr std::int32_t kCPUTypePowerPC64 = 0x01000012;
inline constexpr std::int32_t kCPUTypeARM64 = 0x0100000c;
// Capability bits live in the subtype's top byte and take no part in naming.
inline constexpr std::uint32_t kCPUSubtypeMask = 0x00ffffff;

inline constexpr std::uint32_t kFatMagic = 0xcafebabe;
inline constexpr std::size_t kFatHeaderSize = 8;
inline constexpr std::size_t kFatArchSize = 20;
// A fat header must fit in the first page of the file (the kernel maps no
// more of it); this also keeps a Java class file, which shares the magic,
// from passing for a fat file with thousands of slices.
inline constexpr std::uint32_t kMaxFatArchs = (4096 - kFatHeaderSize) / kFatArchSize;
// The largest alignment lipo accepts for a slice: 2^15.
inline constexpr std::uint32_t kMaxSliceAlign = 15;

// One architecture of a file. For a thin file the one slice spans the file.
struct Slice {
    std::int32_t cputype = 0;
    std::int32_t cpusubtype = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t align = 0;  // a power of two: 2^align (fat files only)
};

struct MachOFile {
    bool fat = false;
    std::vector<Slice> slices;  // in the order the file lists them
};

// Copies `size` bytes at `offset` into `out`; false when they are not all
// there. The parser never asks for bytes past the size it was given.
using ReadAt = std::function<bool(std::uint64_t offset, void* out, std::size_t size)>;

// Parses the headers of a file of `fileSize` bytes. nullopt for anything that
// is not a well-formed Mach-O file: unknown magic, truncation, a slice count
// or offset that does not fit, overlapping or duplicated slices, a slice that
// is not itself a Mach-O file of the announced CPU type.
std::optional<MachOFile> parseMachO(std::uint64_t fileSize, const ReadAt& read);
std::optional<MachOFile> parseMachO(std::string_view bytes);

// Reads the headers of an open file (any file position; pread is used).
std::optional<MachOFile> readMachO(int fd);

// Opens a machine path (under the system root) without following a final
// symbolic link and reads it; nullopt when it is no regular Mach-O file.
std::optional<MachOFile> readMachOAtPath(const std::string& machinePath);

}  // namespace bundle
