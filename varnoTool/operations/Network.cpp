#include "operations/Network.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "Protocol.h"
#include "Utilities.h"
#include "fs/open.h"
#include "fs/replace.h"
#include "host/sysctl.h"

namespace {

constexpr const char* kSysctlConf = "/private/etc/sysctl.conf";
constexpr const char* kFirstHeader =
    "# The following network optimizations were added by com.kvxlabs.Varno on ";
constexpr const char* kSecondHeader =
    "# The following network optimizations were added by com.kvxlabs.Varno2 on ";

constexpr std::int64_t kMinimumBuffer = 16000;
constexpr std::int64_t kMinimumMaxSocketBuffer = 0x400000;
// sysctl.conf is a few lines; a file this large is not one to rewrite.
constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

// The URL access error codes the platform reports for a file it cannot read
// or write.
constexpr long kURLUnknownError = -10;
constexpr long kURLResourceNotFoundError = -12;
constexpr long kURLResourceAccessViolationError = -13;

struct Parameters {
    std::int64_t sendSpace;
    std::int64_t receiveSpace;
    std::int64_t maxSocketBuffer;
    std::int32_t delayedAck;
    std::int32_t rfc1323;
    bool operator==(const Parameters&) const = default;
};

// What the system uses when sysctl.conf says nothing.
Parameters systemDefaults(std::int32_t systemVersion) {
    return {65536, 65536, systemVersion > 0x105F ? 4194304 : 8388608, 3, 1};
}

// A number from the request as a signed 64-bit integer; `fallback` when the
// key is absent; nullopt for anything that is no whole number.
std::optional<std::int64_t> numberFor(const plist::Dictionary& parameters, const char* key,
                                      std::int64_t fallback) {
    if (requestValue(parameters, key) == nullptr) return fallback;
    return numberFromConfigAndKey(&parameters, key, INT64_MIN, INT64_MAX);
}

bool booleanFor(const plist::Dictionary& parameters, const char* key, bool fallback) {
    const plist::Value* value = requestValue(parameters, key);
    if (value == nullptr) return fallback;
    return value->asBoolean().value_or(false);
}

void setVariable(const char* name, std::int64_t value, std::size_t size) {
    printf("%s = %ld\n", name, static_cast<long>(value));
    std::int32_t narrow = static_cast<std::int32_t>(value);
    const void* bytes = size == sizeof narrow ? static_cast<const void*>(&narrow) : &value;
    int result = host::sysctlbyname(name, nullptr, nullptr, bytes, size);
    if (result != 0) printf("** Error %ld setting sysctl variable\n", static_cast<long>(result));
}

// The platform's short date and short time styles: "12/8/26 6:45 PM".
std::string shortDateAndTime(time_t now) {
    struct tm local {};
    if (localtime_r(&now, &local) == nullptr) return "";
    int hour = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
    char text[64];
    snprintf(text, sizeof text, "%d/%d/%02d %d:%02d %s", local.tm_mon + 1, local.tm_mday,
             (local.tm_year + 1900) % 100, hour, local.tm_min, local.tm_hour < 12 ? "AM" : "PM");
    return text;
}

std::string valueLines(const Parameters& p) {
    const struct {
        const char* name;
        std::int64_t value;
    } lines[] = {
        {"net.inet.tcp.sendspace", p.sendSpace},    {"net.inet.tcp.recvspace", p.receiveSpace},
        {"kern.ipc.maxsockbuf", p.maxSocketBuffer}, {"net.inet.tcp.delayed_ack", p.delayedAck},
        {"net.inet.tcp.rfc1323", p.rfc1323},
    };
    std::string out;
    for (const auto& line : lines) {
        char text[128];
        snprintf(text, sizeof text, "%s=%d\n", line.name, static_cast<std::int32_t>(line.value));
        out += text;
    }
    return out;
}

long urlErrorFor(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return kURLResourceNotFoundError;
        case EACCES:
        case EPERM:
        case EROFS:
            return kURLResourceAccessViolationError;
        default:
            return kURLUnknownError;
    }
}

bool isUTF8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t length;
        std::uint32_t point;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            length = 2, point = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3, point = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4, point = c & 0x07;
        } else {
            return false;
        }
        if (i + length > s.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            unsigned char next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = point << 6 | (next & 0x3F);
        }
        if ((length == 3 && point < 0x800) || (length == 4 && point < 0x10000) ||
            point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

enum class Existing { Missing, Read, Unreadable };

// The file's bytes. A link, a folder or anything but a regular file counts
// as unreadable: the rewrite would replace it with something else.
Existing readExisting(int folderFd, const std::string& leaf, std::string* data, int* error) {
    int fd = openat(folderFd, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return errno == ENOENT ? Existing::Missing : Existing::Unreadable;
    }
    struct stat st {};
    *error = 0;
    if (fstat(fd, &st) != 0)
        *error = errno;
    else if (!S_ISREG(st.st_mode))
        *error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    char buffer[65536];
    while (*error == 0) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) *error = errno;
        if (n <= 0) break;
        if (data->size() + static_cast<std::size_t>(n) > kMaxFileSize) *error = EFBIG;
        data->append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return *error == 0 ? Existing::Read : Existing::Unreadable;
}

void reportUntouched(const char* why) {
    printf("***Error: %s %s; it was left as it is so that its contents are not lost.\n",
           kSysctlConf, why);
}

// The request's values, keys it lacks taken from the defaults; nullopt (and
// the error printed) for a number out of range.
std::optional<Parameters> requestedParameters(const plist::Dictionary& parameters,
                                              const Parameters& defaults) {
    std::optional<std::int64_t> send = numberFor(parameters, "TCPSendBuffer", defaults.sendSpace);
    std::optional<std::int64_t> receive =
        numberFor(parameters, "TCPReceiveBuffer", defaults.receiveSpace);
    std::optional<std::int64_t> maxBuffer =
        numberFor(parameters, "MaxSocketBuffer", defaults.maxSocketBuffer);
    if (!send || !receive || !maxBuffer || *send < kMinimumBuffer || *receive < kMinimumBuffer ||
        *maxBuffer < kMinimumMaxSocketBuffer) {
        printf("\t*** Error: Parameter out of allowed range.\n");
        return std::nullopt;
    }
    return Parameters{*send, *receive, *maxBuffer,
                      booleanFor(parameters, "DelayedAcks", true) ? 3 : 0,
                      booleanFor(parameters, "RFC1323", true) ? 1 : 0};
}

void setKernelVariables(const Parameters& requested) {
    printf("Writing sysctl parameters...");
    setVariable("kern.ipc.maxsockbuf", requested.maxSocketBuffer, 8);
    setVariable("net.inet.tcp.sendspace", requested.sendSpace, 8);
    setVariable("net.inet.tcp.recvspace", requested.receiveSpace, 8);
    setVariable("net.inet.tcp.delayed_ack", requested.delayedAck, 4);
    setVariable("net.inet.tcp.rfc1323", requested.rfc1323, 4);
}

// The file's current text, empty when there is none; false (and the reason
// printed) when it is not text this rewrite may replace.
bool currentText(int folderFd, const std::string& leaf, std::string* text) {
    int error = 0;
    switch (readExisting(folderFd, leaf, text, &error)) {
        case Existing::Missing:
            text->clear();
            return true;
        case Existing::Unreadable:
            printf(" ** Error %ld getting string data for %s\n", urlErrorFor(error), kSysctlConf);
            reportUntouched("cannot be read");
            return false;
        case Existing::Read:
            if (isUTF8(*text)) return true;
            reportUntouched("is not UTF-8 text");
            return false;
    }
    return false;
}

// Drops an earlier block, under either header, and everything after it;
// then appends this run's block unless the values are the system's defaults.
void replaceBlock(std::string* text, bool isDefault, const std::string& lines) {
    std::size_t cut = text->find(kFirstHeader);
    if (cut == std::string::npos) cut = text->find(kSecondHeader);
    if (cut != std::string::npos) text->erase(cut);
    if (!isDefault) {
        *text += kSecondHeader;
        *text += shortDateAndTime(time(nullptr));
        *text += '\n';
        *text += lines;
    }
}

int saveToSysctlConf(bool isDefault, const std::string& lines) {
    std::string leaf;
    int folderFd = vfs::openParentFolder(kSysctlConf, &leaf);
    if (folderFd < 0) {
        printf("***Error %ld writing %s\n", urlErrorFor(errno), kSysctlConf);
        return 4;
    }
    std::string text;
    if (!currentText(folderFd, leaf, &text)) {
        close(folderFd);
        return 4;
    }
    replaceBlock(&text, isDefault, lines);
    // The system reads this file at every start: a crash must leave the old
    // text or the new one. The file keeps its owner and mode; a new one is
    // root's with mode 0644.
    int error =
        vfs::replaceFileAt(folderFd, leaf, text, vfs::ReplacementRights::newFileMode(0644)).error;
    close(folderFd);
    if (error != 0) {
        printf("***Error %ld writing %s\n", urlErrorFor(error), kSysctlConf);
        return 4;
    }
    return 0;
}

}  // namespace

int setNetworkParameters(const plist::Dictionary& parameters) {
    printf("setNetworkParameters\n");
    const Parameters defaults = systemDefaults(systemVersionSInt32());
    std::optional<Parameters> requested = requestedParameters(parameters, defaults);
    if (!requested) return 4;
    setKernelVariables(*requested);
    Delay(1);
    printf("Saving new parameters to %s...\n", kSysctlConf);
    return saveToSysctlConf(*requested == defaults, valueLines(*requested));
}
