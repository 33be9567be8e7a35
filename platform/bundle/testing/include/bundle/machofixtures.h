#pragma once
// Mach-O files for tests, written byte by byte: a thin file per architecture
// (a real mach_header in the architecture's byte order and word size, one
// LC_UUID load command, then filler bytes that differ per architecture) and
// universal files joining them as lipo lays them out.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bundle::testing {

// A thin executable for a lipo name ("ppc", "ppc7400", "ppc970", "ppc64",
// "i386", "x86_64", ...) of exactly `size` bytes (at least 64).
std::string thinMachO(const std::string& arch, std::size_t size = 6000);

// A universal file holding thinMachO(arch, sliceSize) for each name, in that
// order, each slice at an offset aligned to 2^align.
std::string fatMachO(const std::vector<std::string>& archs, std::size_t sliceSize = 6000,
                     std::uint32_t align = 12);

// The path of an LLVM tool ("llvm-lipo", "llvm-objdump") used as an
// independent reader of the files our lipo writes; "" when not installed.
std::string llvmTool(const std::string& name);

// Big-endian field access for tests that corrupt headers.
void putBE32(std::string& bytes, std::size_t at, std::uint32_t value);
std::uint32_t getBE32(const std::string& bytes, std::size_t at);

}  // namespace bundle::testing
