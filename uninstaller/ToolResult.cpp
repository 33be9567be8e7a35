#include "ToolResult.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace uninstall {

ToolOutput readToolOutput(int fd) {
    ToolOutput output{};
    std::size_t used = 0;
    std::array<char, 4096> spill;
    for (;;) {
        const bool room = used < output.size() - 1;
        char* into = room ? output.data() + used : spill.data();
        const std::size_t want = room ? output.size() - 1 - used : spill.size();
        ssize_t n = read(fd, into, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (room) used += static_cast<std::size_t>(n);
    }
    return output;
}

std::optional<std::int32_t> resultFromToolOutput(const ToolOutput& output) {
    const std::string_view text(output.data(), strnlen(output.data(), output.size()));
    const std::size_t marker = text.find(kResultMarker);
    if (marker == std::string_view::npos) return std::nullopt;
    std::size_t i = marker + kResultMarker.size();
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
    // Past the 32-bit range the value sticks at its end, as the platform's
    // string-to-int does.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), kLimit);
    if (negative) return static_cast<std::int32_t>(-value);
    return static_cast<std::int32_t>(std::min<std::int64_t>(value, kLimit - 1));
}

}  // namespace uninstall
