#pragma once
// The executor's output: text lines, progress records and result records on
// standard output, and the run-wide state the request sets.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "plist/plist.h"

extern bool AEDEBUG;
extern bool countTotalSizeRemoved;
extern std::int64_t totalSizeRemoved;

// Pauses for the given number of ticks (1/60 second each), as the
// platform's Delay does.
void Delay(unsigned ticks);

void wstr(const char* s);
void wstrnl(const char* s);
void showString(std::string_view s);
void showStringNL(std::string_view s);
void writeProgressUpdate(double position, double total);
void writeProgressIncrament(double increment);
void writeDictionaryWithID(plist::Dictionary& dictionary, const std::string& identifier);
void writeTotalSizeRemovedDictionaryWithID(const std::string& identifier);
bool boolFromConfigAndKey(const plist::Dictionary* config, const char* key);
// A number key of the request, stored as an integer or as a real: a whole
// real is that integer. nullopt when the key is absent, holds no number, holds
// a real with a fraction, or lies outside [minimum, maximum]; callers that
// have a value for an absent key look for the key first.
std::optional<std::int64_t> numberFromConfigAndKey(const plist::Dictionary* config,
                                                   const char* key,
                                                   std::int64_t minimum = INT32_MIN,
                                                   std::int64_t maximum = INT32_MAX);
bool stringsEqual(std::string_view a, std::string_view b);

// Request and record keys.
inline constexpr const char* kIdentifierKey = "KVXAEIdentifierAuthExecConfigurationKey";
inline constexpr const char* kDebugKey = "KVXAEDebugAuthExecConfigurationKey";
inline constexpr const char* kProgressIdentifier = "KVXAEProgressUpdateAuthExecOutputIdentifier";
inline constexpr const char* kDictionaryIdentifierKey =
    "KVXAEDictionaryIdentifierAuthExecOutputIdentifier";
inline constexpr const char* kTotalSizeRemovedKey =
    "KVXAETotalSizeRemovedAuthExecDictionaryOutputKey";
