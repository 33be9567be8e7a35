// Whatever lipo prints: the names taken are words of the text after
// " are: ", never spanning a space, never more than the text holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "operations/CleanBinaries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(bytes), size);
    auto names = lipoArchitecturesFromInfo(text);
    if (!names) return 0;
    std::size_t total = 0;
    for (const auto& name : *names) {
        if (name.find(' ') != std::string_view::npos) std::abort();
        total += name.size() + 1;
    }
    if (total > size) std::abort();
    return 0;
}
