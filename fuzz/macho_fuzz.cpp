// Feeds arbitrary bytes to the Mach-O header reader. Besides not crashing,
// whatever it accepts must describe slices that lie inside the input and do
// not overlap.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "bundle/arch.h"
#include "bundle/macho.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto file = bundle::parseMachO(bytes);
    if (!file) return 0;
    if (file->slices.empty()) std::abort();
    std::uint64_t headerEnd =
        file->fat ? bundle::kFatHeaderSize + file->slices.size() * bundle::kFatArchSize : 0;
    for (const bundle::Slice& s : file->slices) {
        if (s.offset < headerEnd || s.size > size || s.offset > size - s.size) std::abort();
        for (const bundle::Slice& t : file->slices) {
            if (&s != &t && s.offset < t.offset + t.size && t.offset < s.offset + s.size)
                std::abort();
        }
        if (bundle::lipoName(s.cputype, s.cpusubtype).empty()) std::abort();
    }
    return 0;
}
