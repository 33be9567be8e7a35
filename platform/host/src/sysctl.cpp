#include "host/sysctl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "fs/replace.h"
#include "host/root.h"
#include "host/system.h"

namespace host {
namespace {

constexpr const char* kSystemVersionPlist = "/System/Library/CoreServices/SystemVersion.plist";
// The variables file is a few lines; anything this large is not one.
constexpr std::size_t kMaxVariablesFile = 1024 * 1024;

// A variable's value: an integer or a string.
struct Value {
    bool isInteger = false;
    std::int64_t integer = 0;
    std::string text;
};

int fail(int error) {
    errno = error;
    return -1;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::optional<std::int64_t> parseInteger(std::string_view s) {
    std::int64_t v = 0;
    if (s.empty()) return std::nullopt;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return v;
}

Value valueFromText(std::string_view text) {
    Value v;
    if (std::optional<std::int64_t> i = parseInteger(text)) {
        v.isInteger = true;
        v.integer = *i;
    }
    v.text = std::string(text);
    return v;
}

// Copies the value out as sysctlbyname does.
int readOut(const Value& value, void* oldp, std::size_t* oldlenp) {
    if (oldlenp == nullptr) return oldp == nullptr ? 0 : fail(EINVAL);
    if (!value.isInteger) {
        std::size_t need = value.text.size() + 1;
        if (oldp == nullptr) {
            *oldlenp = need;
            return 0;
        }
        if (*oldlenp < need) return fail(ENOMEM);
        memcpy(oldp, value.text.c_str(), need);
        *oldlenp = need;
        return 0;
    }
    if (oldp == nullptr) {
        *oldlenp = sizeof(std::int64_t);
        return 0;
    }
    if (*oldlenp >= sizeof(std::int64_t)) {
        memcpy(oldp, &value.integer, sizeof(std::int64_t));
        *oldlenp = sizeof(std::int64_t);
        return 0;
    }
    if (*oldlenp < sizeof(std::int32_t)) return fail(ENOMEM);
    if (value.integer < INT32_MIN || value.integer > INT32_MAX) return fail(ERANGE);
    std::int32_t narrow = static_cast<std::int32_t>(value.integer);
    memcpy(oldp, &narrow, sizeof narrow);
    *oldlenp = sizeof narrow;
    return 0;
}

// A new integer value from 4 or 8 native bytes.
std::optional<std::int64_t> newInteger(const void* newp, std::size_t newlen) {
    if (newlen == sizeof(std::int64_t)) {
        std::int64_t v;
        memcpy(&v, newp, sizeof v);
        return v;
    }
    if (newlen == sizeof(std::int32_t)) {
        std::int32_t v;
        memcpy(&v, newp, sizeof v);
        return v;
    }
    return std::nullopt;
}

// Whole small file; nullopt with errno set.
std::optional<std::string> readFile(const std::string& path, std::size_t limit) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string data;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || data.size() + static_cast<std::size_t>(n) > limit) {
            int error = n < 0 ? errno : EFBIG;
            close(fd);
            errno = error;
            return std::nullopt;
        }
        if (n == 0) break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return data;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// --- Facts that are not kept in any file --------------------------------

// The system version is read again only when its file changes: the process
// inspection asks for the kernel release once per process it lists.
std::optional<std::string> kernelRelease() {
    static std::mutex mutex;
    static std::string cachedRoot;
    static struct stat cachedStat {};
    static std::string cachedRelease;
    static bool cached = false;

    std::string root = systemRoot();
    struct stat st {};
    bool haveFile = stat(realPath(kSystemVersionPlist).c_str(), &st) == 0;
    std::lock_guard<std::mutex> lock(mutex);
    if (!haveFile) {
        cached = false;
        return std::nullopt;
    }
    if (!cached || root != cachedRoot || st.st_dev != cachedStat.st_dev ||
        st.st_ino != cachedStat.st_ino || st.st_size != cachedStat.st_size ||
        st.st_mtim.tv_sec != cachedStat.st_mtim.tv_sec ||
        st.st_mtim.tv_nsec != cachedStat.st_mtim.tv_nsec) {
        cachedRelease = darwinReleaseForSystemVersion(systemVersion());
        cachedRoot = root;
        cachedStat = st;
        cached = true;
    }
    if (cachedRelease.empty()) return std::nullopt;
    return cachedRelease;
}

// Read-only variables that exist everywhere. nullopt: not one of them.
// *error is set when it is one but has no value here.
std::optional<Value> factVariable(std::string_view name, int* error) {
    *error = 0;
    if (name == "kern.ostype") return valueFromText("Darwin");
    if (name == "kern.argmax") {
        // Asked for with every process the inspection lists; the limit
        // follows the stack limit, which this process does not change.
        static const long limit = sysconf(_SC_ARG_MAX);
        Value v;
        v.isInteger = true;
        v.integer = limit > 0 && limit < INT_MAX ? limit : INT_MAX;
        v.text = std::to_string(v.integer);
        return v;
    }
    if (name == "kern.osrelease") {
        std::optional<std::string> release = kernelRelease();
        if (!release) {
            *error = ENOENT;
            return Value{};
        }
        Value v;
        v.text = *release;
        return v;
    }
    return std::nullopt;
}

// --- Sandbox: the variables file ----------------------------------------

struct Line {
    std::string text;  // the line as it stands, without its newline
    std::string name;  // empty for comments and blank lines
    std::size_t valueStart = 0;
};

std::vector<Line> parseVariables(std::string_view data) {
    std::vector<Line> lines;
    while (!data.empty()) {
        std::size_t end = data.find('\n');
        std::string_view raw = data.substr(0, end);
        data.remove_prefix(end == std::string_view::npos ? data.size() : end + 1);
        Line line;
        line.text = std::string(raw);
        std::string_view content = trimmed(raw);
        std::size_t equals = content.find('=');
        if (!content.empty() && content.front() != '#' && equals != std::string_view::npos) {
            line.name = std::string(trimmed(content.substr(0, equals)));
            line.valueStart = raw.find('=') + 1;
            while (line.valueStart < raw.size() &&
                   (raw[line.valueStart] == ' ' || raw[line.valueStart] == '\t'))
                ++line.valueStart;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

int sandboxVariable(const char* name, void* oldp, std::size_t* oldlenp, const void* newp,
                    std::size_t newlen) {
    std::string path = realPath(kKernelVariablesFile);
    std::optional<std::string> data = readFile(path, kMaxVariablesFile);
    if (!data) return errno == ENOENT ? fail(ENOENT) : -1;
    std::vector<Line> lines = parseVariables(*data);
    Line* found = nullptr;
    for (Line& line : lines) {
        if (line.name == name) {
            found = &line;
            break;
        }
    }
    if (found == nullptr) return fail(ENOENT);
    Value value = valueFromText(trimmed(std::string_view(found->text).substr(found->valueStart)));
    if ((oldp != nullptr || oldlenp != nullptr) && readOut(value, oldp, oldlenp) != 0) return -1;
    if (newp == nullptr) return 0;
    if (!value.isInteger) return fail(EPERM);
    std::optional<std::int64_t> replacement = newInteger(newp, newlen);
    if (!replacement) return fail(EINVAL);
    found->text = found->text.substr(0, found->valueStart) + std::to_string(*replacement);
    std::string out;
    for (const Line& line : lines) {
        out += line.text;
        out += '\n';
    }
    // Replaced whole, keeping owner and mode: a crash leaves the old
    // variables or the new ones.
    const vfs::ReplaceResult replaced = vfs::replaceFile(path, out);
    return replaced.ok() ? 0 : fail(replaced.error);
}

// --- Real machine: /proc/sys --------------------------------------------

struct LinuxVariable {
    const char* name;
    const char* file;       // read from and written to
    const char* alsoWrite;  // a second file set to the same value, or nullptr
    int field;              // whitespace-separated field; -1: the whole value
};

const LinuxVariable kLinuxVariables[] = {
    {"net.inet.tcp.sendspace", "net/ipv4/tcp_wmem", nullptr, 1},
    {"net.inet.tcp.recvspace", "net/ipv4/tcp_rmem", nullptr, 1},
    {"kern.ipc.maxsockbuf", "net/core/wmem_max", "net/core/rmem_max", -1},
    {"net.inet.tcp.rfc1323", "net/ipv4/tcp_window_scaling", nullptr, -1},
};

std::vector<std::string> fields(std::string_view text) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
        std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\n') ++i;
        if (i > start) out.emplace_back(text.substr(start, i - start));
    }
    return out;
}

int writeProcSys(const std::string& path, const std::string& text) {
    int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = writeAll(fd, text) ? 0 : errno;
    if (close(fd) != 0 && error == 0) error = errno;
    return error;
}

int linuxVariable(const std::string& procSys, const char* name, void* oldp, std::size_t* oldlenp,
                  const void* newp, std::size_t newlen) {
    const LinuxVariable* variable = nullptr;
    for (const LinuxVariable& v : kLinuxVariables)
        if (std::strcmp(v.name, name) == 0) variable = &v;
    if (variable == nullptr) return fail(ENOENT);

    std::string path = procSys + "/" + variable->file;
    std::optional<std::string> data = readFile(path, 4096);
    if (!data) return -1;
    std::vector<std::string> parts = fields(*data);
    std::size_t index = variable->field < 0 ? 0 : static_cast<std::size_t>(variable->field);
    if (parts.size() <= index || (variable->field < 0 && parts.size() != 1)) return fail(EIO);
    Value value = valueFromText(parts[index]);
    if (!value.isInteger) return fail(EIO);
    if ((oldp != nullptr || oldlenp != nullptr) && readOut(value, oldp, oldlenp) != 0) return -1;
    if (newp == nullptr) return 0;
    std::optional<std::int64_t> replacement = newInteger(newp, newlen);
    if (!replacement) return fail(EINVAL);
    parts[index] = std::to_string(*replacement);
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : " ") + part;
    text += '\n';
    int error = writeProcSys(path, text);
    if (error == 0 && variable->alsoWrite != nullptr)
        error = writeProcSys(procSys + "/" + variable->alsoWrite, text);
    return error == 0 ? 0 : fail(error);
}

int factOrElse(const char* name, void* oldp, std::size_t* oldlenp, const void* newp,
               std::size_t newlen,
               int (*otherwise)(const char*, void*, std::size_t*, const void*, std::size_t,
                                const void*),
               const void* context) {
    if (name == nullptr) return fail(EINVAL);
    int error = 0;
    if (std::optional<Value> fact = factVariable(name, &error)) {
        if (error != 0) return fail(error);
        if (newp != nullptr) return fail(EPERM);
        return readOut(*fact, oldp, oldlenp);
    }
    return otherwise(name, oldp, oldlenp, newp, newlen, context);
}

}  // namespace

std::string darwinReleaseForSystemVersion(std::int32_t packed) {
    if (packed <= 0) return "";
    int major = (packed >> 12 & 0xF) * 10 + (packed >> 8 & 0xF);
    int minor = packed >> 4 & 0xF;
    int bugfix = packed & 0xF;
    if (major == 10 && minor < 2) return "1." + std::to_string(minor + 3) + ".0";
    if (major == 10) return std::to_string(minor + 4) + "." + std::to_string(bugfix) + ".0";
    return std::to_string(major + 9) + "." + std::to_string(minor) + ".0";
}

int sysctlbyname(const char* name, void* oldp, std::size_t* oldlenp, const void* newp,
                 std::size_t newlen) {
    return factOrElse(
        name, oldp, oldlenp, newp, newlen,
        [](const char* n, void* o, std::size_t* ol, const void* np, std::size_t nl, const void*) {
            if (isSandboxed()) return sandboxVariable(n, o, ol, np, nl);
            return linuxVariable("/proc/sys", n, o, ol, np, nl);
        },
        nullptr);
}

namespace sysctl_testing {

int sysctlbynameOnLinux(const std::string& procSysFolder, const char* name, void* oldp,
                        std::size_t* oldlenp, const void* newp, std::size_t newlen) {
    return factOrElse(
        name, oldp, oldlenp, newp, newlen,
        [](const char* n, void* o, std::size_t* ol, const void* np, std::size_t nl,
           const void* folder) {
            return linuxVariable(*static_cast<const std::string*>(folder), n, o, ol, np, nl);
        },
        &procSysFolder);
}

}  // namespace sysctl_testing

}  // namespace host
