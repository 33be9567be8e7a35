#pragma once
// Text, base64 and calendar helpers shared by the readers and writers.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plist/plist.h"

namespace plist::detail {

// Dictionary entries in the platform's key order (UTF-16 code units).
using Entry = Dictionary::value_type;
std::vector<const Entry*> sortedEntries(const Dictionary& dict);
bool keyLess(std::string_view a, std::string_view b);

// Inserts or replaces (the last of duplicate keys wins). Keys mostly arrive
// in order, so appending is tried first.
inline void insertLast(Dictionary& dict, std::string key, Value value) {
    if (dict.empty() || dict.rbegin()->first < key) {
        dict.emplace_hint(dict.end(), std::move(key), std::move(value));
    } else {
        dict.insert_or_assign(std::move(key), std::move(value));
    }
}

// Decodes one UTF-8 sequence at s[i]; returns its length, 0 when malformed
// (overlong, surrogate, above U+10FFFF, cut short, or not a lead byte).
std::size_t decodeUtf8(std::string_view s, std::size_t i, char32_t& out);
// UTF-8 to UTF-16; malformed bytes become U+FFFD.
std::u16string utf16FromUtf8(std::string_view s);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string utf8FromUtf16(std::u16string_view s);
void appendUtf8(std::string& out, char32_t c);
bool isAscii(std::string_view s);

// Standard base64 with padding, no line breaks.
std::string base64Encode(const std::uint8_t* data, std::size_t size);
// Lenient: characters outside the alphabet are skipped; '=' ends the data.
Data base64Decode(std::string_view text);

// A moment split into calendar fields (proleptic Gregorian, UTC).
struct CivilTime {
    std::int64_t year = 2001;
    int month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
// Whole seconds are kept (fractions dropped towards the past); moments outside
// the years kMinYear..kMaxYear are clamped to them, NaN is the reference date.
CivilTime civilFromSeconds(double seconds);
// nullopt when a field is out of range.
std::optional<double> secondsFromCivil(const CivilTime& t);
inline constexpr std::int64_t kMinYear = -999999;
inline constexpr std::int64_t kMaxYear = 999999;

}  // namespace plist::detail
