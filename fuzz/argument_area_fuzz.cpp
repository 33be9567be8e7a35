// Any bytes as a process's argument area, in both layouts: what comes out is
// made of the area's own bytes, never more of them than it holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "operations/KVXProcess.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    std::string_view area(reinterpret_cast<const char*>(bytes), size);
    for (bool hasCount : {false, true}) {
        KVXProcessArgumentArea parsed = KVXProcessParseArgumentArea(area, hasCount);
        std::size_t total = 0;
        for (const auto& argument : parsed.arguments) total += argument.size();
        if (parsed.launchPath) total += parsed.launchPath->size();
        if (total > size) std::abort();
    }
    return 0;
}
