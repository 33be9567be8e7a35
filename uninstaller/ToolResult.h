#pragma once
// The result uninstallTool reports: "EXIT: " and a number on its standard
// output, read into a buffer of fixed size.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace uninstall {

inline constexpr std::size_t kToolOutputBufferSize = 2048;
inline constexpr std::string_view kResultMarker = "EXIT: ";

// The result when the tool ended without reporting one (no marker, or no
// number after it): the platform's status for a tool that returned neither a
// success nor an error code.
inline constexpr std::int32_t kNoResultStatus = -60032;

// What was read: zero-filled, and never more than size - 1 bytes, so that it
// always ends in a zero byte.
using ToolOutput = std::array<char, kToolOutputBufferSize>;

// Reads the descriptor to its end. What does not fit is read and dropped, so
// a tool that says too much still runs to its end instead of dying on a
// closed pipe.
ToolOutput readToolOutput(int fd);

// The number after the first marker in the text (up to its first zero byte):
// leading white space and a sign allowed, reading stops at the first
// non-digit, clamped to 32 bits. nullopt without a marker or a digit.
std::optional<std::int32_t> resultFromToolOutput(const ToolOutput& output);

}  // namespace uninstall
