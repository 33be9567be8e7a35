#include "Protocol.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

bool AEDEBUG = false;
bool countTotalSizeRemoved = false;
std::int64_t totalSizeRemoved = 0;

namespace {

// Whether the text written so far ended its line, so that a record can be
// kept from continuing a line a name or a tool left open.
bool atLineStart = true;

// One write call per record; a short write (a signal, a full pipe on a
// non-blocking descriptor) is finished rather than losing the rest.
void writeAll(const char* data, size_t size) {
    if (size > 0) atLineStart = data[size - 1] == '\n';
    while (size > 0) {
        ssize_t n = write(1, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// A record as one write, on a line of its own.
void writeRecord(std::string record) {
    if (!atLineStart) record.insert(record.begin(), '\n');
    writeAll(record.data(), record.size());
}

}  // namespace

void addToTotalSizeRemoved(std::int64_t bytes) {
    if (__builtin_add_overflow(totalSizeRemoved, bytes, &totalSizeRemoved))
        totalSizeRemoved = bytes > 0 ? INT64_MAX : INT64_MIN;
}

void addToTotalSizeRemoved(std::uint64_t bytes) {
    addToTotalSizeRemoved(static_cast<std::int64_t>(std::min<std::uint64_t>(bytes, INT64_MAX)));
}

void Delay(unsigned ticks) {
    long long ns = static_cast<long long>(ticks) * 1000000000LL / 60;
    struct timespec ts {
        static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)
    };
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void wstr(const char* s) {
    if (s == nullptr) return;
    writeAll(s, std::char_traits<char>::length(s));
    Delay(1);
    fflush(nullptr);
}

void wstrnl(const char* s) {
    if (s == nullptr) return;
    std::string line(s);
    line += '\n';
    writeAll(line.data(), line.size());
    Delay(1);
    fflush(nullptr);
}

void printText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    char small[512];
    int n = vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        va_end(again);
        writeAll(small, static_cast<size_t>(n));
        return;
    }
    std::string text(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    writeAll(text.data(), static_cast<size_t>(n));
}

std::string displayFormByLine(std::string_view text) {
    std::string out;
    for (;;) {
        size_t end = text.find_first_of("\n\t");
        out += plist::displayForm(text.substr(0, end));
        if (end == std::string_view::npos) return out;
        out += text[end];
        text.remove_prefix(end + 1);
    }
}

void showString(std::string_view s) {
    wstr(std::string(s).c_str());
}

void showStringNL(std::string_view s) {
    wstrnl(std::string(s).c_str());
}

void writeProgressUpdate(double position, double total) {
    char buffer[143];
    int n = snprintf(buffer, sizeof buffer, "%s(%.2f,%.2f)", kProgressIdentifier, position, total);
    // A value too large for the record would reach the reader cut short and
    // misread; it is refused instead.
    if (n < 0 || n >= static_cast<int>(sizeof buffer)) {
        wstrnl("\t*** Progress value out of range; record not written.");
        return;
    }
    std::string line(buffer, static_cast<size_t>(n));
    line += '\n';
    writeRecord(std::move(line));
    Delay(1);
    fflush(nullptr);
}

void writeProgressIncrament(double increment) {
    writeProgressUpdate(increment, -1.0);
}

void writeDictionaryWithID(plist::Dictionary& dictionary, const std::string& identifier) {
    dictionary[kDictionaryIdentifierKey] = plist::Value(identifier);
    writeRecord(plist::writeXML(plist::Value(dictionary)));
    fflush(nullptr);
}

void writeTotalSizeRemovedDictionaryWithID(const std::string& identifier) {
    plist::Dictionary d;
    d[kTotalSizeRemovedKey] = plist::Value::integer(totalSizeRemoved);
    writeDictionaryWithID(d, identifier);
}

void (*protocol_seams::keyLookedUp)(std::string_view key) = nullptr;

const plist::Value* requestValue(const plist::Dictionary& parameters, std::string_view key) {
    if (protocol_seams::keyLookedUp != nullptr) protocol_seams::keyLookedUp(key);
    auto it = parameters.find(key);
    return it == parameters.end() ? nullptr : &it->second;
}

bool boolFromConfigAndKey(const plist::Dictionary* config, const char* key) {
    if (config == nullptr || key == nullptr) return false;
    const plist::Value* value = requestValue(*config, key);
    // Only a real boolean turns an option on; a string "YES" or a number is
    // not taken as consent to a destructive step.
    return value != nullptr && value->asBoolean().value_or(false);
}

std::optional<std::int64_t> numberFromConfigAndKey(const plist::Dictionary* config, const char* key,
                                                   std::int64_t minimum, std::int64_t maximum) {
    if (config == nullptr || key == nullptr) return std::nullopt;
    const plist::Value* value = requestValue(*config, key);
    if (value == nullptr) return std::nullopt;
    std::optional<std::int64_t> number = value->asInteger();
    if (!number && value->isReal()) {
        // A caller that stores numbers as reals still means a whole number;
        // a fraction or a value no integer holds is not read as anything.
        const double real = *value->asReal();
        if (std::isfinite(real) && real == std::trunc(real) && real >= -0x1p63 && real < 0x1p63)
            number = static_cast<std::int64_t>(real);
    }
    if (!number || *number < minimum || *number > maximum) return std::nullopt;
    return number;
}

bool stringsEqual(std::string_view a, std::string_view b) {
    return a == b;
}
