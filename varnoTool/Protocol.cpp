#include "Protocol.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>

bool AEDEBUG = false;
bool countTotalSizeRemoved = false;
std::int64_t totalSizeRemoved = 0;

namespace {

// One write call per record; a short write (a signal, a full pipe on a
// non-blocking descriptor) is finished rather than losing the rest.
void writeAll(const char* data, size_t size) {
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

}  // namespace

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

void showString(std::string_view s) { wstr(std::string(s).c_str()); }

void showStringNL(std::string_view s) { wstrnl(std::string(s).c_str()); }

void writeProgressUpdate(double position, double total) {
    char buffer[143];
    int n = snprintf(buffer, sizeof buffer, "%s(%.2f,%.2f)", kProgressIdentifier, position, total);
    // A value too large for the record would reach the reader cut short and
    // misread; it is refused instead.
    if (n < 0 || n >= static_cast<int>(sizeof buffer)) {
        wstrnl("\t*** Progress value out of range; record not written.");
        return;
    }
    wstrnl(buffer);
}

void writeProgressIncrament(double increment) { writeProgressUpdate(increment, -1.0); }

void writeDictionaryWithID(plist::Dictionary& dictionary, const std::string& identifier) {
    dictionary[kDictionaryIdentifierKey] = plist::Value(identifier);
    std::string xml = plist::writeXML(plist::Value(dictionary));
    writeAll(xml.data(), xml.size());
    fflush(nullptr);
}

void writeTotalSizeRemovedDictionaryWithID(const std::string& identifier) {
    plist::Dictionary d;
    d[kTotalSizeRemovedKey] = plist::Value::integer(totalSizeRemoved);
    writeDictionaryWithID(d, identifier);
}

bool boolFromConfigAndKey(const plist::Dictionary* config, const char* key) {
    if (config == nullptr || key == nullptr) return false;
    auto it = config->find(key);
    if (it == config->end()) return false;
    // Only a real boolean turns an option on; a string "YES" or a number is
    // not taken as consent to a destructive step.
    return it->second.asBoolean().value_or(false);
}

std::optional<std::int64_t> numberFromConfigAndKey(const plist::Dictionary* config,
                                                   const char* key, std::int64_t minimum,
                                                   std::int64_t maximum) {
    if (config == nullptr || key == nullptr) return std::nullopt;
    auto it = config->find(key);
    if (it == config->end()) return std::nullopt;
    std::optional<std::int64_t> number = it->second.asInteger();
    if (!number && it->second.isReal()) {
        // A caller that stores numbers as reals still means a whole number;
        // a fraction or a value no integer holds is not read as anything.
        const double real = *it->second.asReal();
        if (std::isfinite(real) && real == std::trunc(real) && real >= -0x1p63 && real < 0x1p63)
            number = static_cast<std::int64_t>(real);
    }
    if (!number || *number < minimum || *number > maximum) return std::nullopt;
    return number;
}

bool stringsEqual(std::string_view a, std::string_view b) { return a == b; }
