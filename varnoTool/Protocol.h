#pragma once
// The executor's output: text lines, progress records and result records on
// standard output, and the run-wide state the request sets.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "contract/executor.h"
#include "plist/display.h"
#include "plist/plist.h"

extern bool AEDEBUG;
extern bool countTotalSizeRemoved;
extern std::int64_t totalSizeRemoved;

// Adds to totalSizeRemoved, staying at the largest or smallest value
// instead of wrapping.
void addToTotalSizeRemoved(std::int64_t bytes);
void addToTotalSizeRemoved(std::uint64_t bytes);
// a + b, or the largest value when that does not fit.
inline std::uint64_t saturatingSum(std::uint64_t a, std::uint64_t b) {
    return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

// Pauses for the given number of ticks (1/60 second each), as the
// platform's Delay does.
void Delay(unsigned ticks);

void wstr(const char* s);
void wstrnl(const char* s);
void showString(std::string_view s);
void showStringNL(std::string_view s);
// A formatted text line (or part of one) in one write, without the pause of
// wstr, as printf to the unbuffered stream. Names in it go through
// plist::displayForm (the one form a name takes in a text line).
void printText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Text from a tool in the display form, its line breaks and tabs kept.
std::string displayFormByLine(std::string_view text);
// Every record starts a line: where the text before it did not end one, the
// record's write begins with a newline.
void writeProgressUpdate(double position, double total);
void writeProgressIncrament(double increment);
void writeDictionaryWithID(plist::Dictionary& dictionary, const std::string& identifier);
void writeTotalSizeRemovedDictionaryWithID(const std::string& identifier);
bool boolFromConfigAndKey(const plist::Dictionary* config, const char* key);
// The value the request holds under `key`, or nullptr. Operations read their
// parameters through here alone, so that a test can see every key each reads.
const plist::Value* requestValue(const plist::Dictionary& parameters, std::string_view key);
// A number key of the request, stored as an integer or as a real: a whole
// real is that integer. nullopt when the key is absent, holds no number, holds
// a real with a fraction, or lies outside [minimum, maximum]; callers that
// have a value for an absent key look for the key first.
std::optional<std::int64_t> numberFromConfigAndKey(const plist::Dictionary* config, const char* key,
                                                   std::int64_t minimum = INT32_MIN,
                                                   std::int64_t maximum = INT32_MAX);
bool stringsEqual(std::string_view a, std::string_view b);

// Request and record keys (the contract's strings are literals, so each
// ends in a zero byte).
inline constexpr const char* kIdentifierKey = contract::kIdentifierKey.data();
inline constexpr const char* kDebugKey = contract::kDebugKey.data();
inline constexpr const char* kProgressIdentifier = contract::kProgressIdentifier.data();
inline constexpr const char* kDictionaryIdentifierKey = contract::kRecordTagKey.data();
inline constexpr const char* kTotalSizeRemovedKey = contract::kTotalSizeRemovedKey.data();

// Told of every key requestValue looks up; only tests link code that sets it.
namespace protocol_seams {
extern void (*keyLookedUp)(std::string_view key);
}  // namespace protocol_seams
