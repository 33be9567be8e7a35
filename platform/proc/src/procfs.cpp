#include "procfs.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <unordered_map>
#include <variant>

namespace proc::procfs {
namespace {

using Clock = std::chrono::steady_clock;
// A reading is used for this long...
constexpr auto kFreshFor = std::chrono::milliseconds(500);
// ...as long as its process still exists, which is checked again when the
// last check is older than this.
constexpr auto kAliveFor = std::chrono::milliseconds(2);
// Beyond this many entries the cache drops what has gone stale.
constexpr std::size_t kPruneAbove = 4096;

enum class Kind : std::uint8_t { Stat, Status, Threads, Meminfo };

struct Key {
    Kind kind;
    pid_t pid;
    pid_t tid;
    bool operator==(const Key&) const = default;
};

struct KeyHash {
    std::size_t operator()(const Key& k) const {
        return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(k.pid) << 32 ^
                                          static_cast<std::uint32_t>(k.tid)) ^
               static_cast<std::size_t>(k.kind);
    }
};

using Reading = std::variant<Stat, Status, std::vector<pid_t>, Meminfo>;

struct Entry {
    Clock::time_point at;
    Reading value;
};

std::mutex cacheMutex;
std::unordered_map<Key, Entry, KeyHash> cache(1024);
std::unordered_map<pid_t, Clock::time_point> seenAlive;

// A process that has been reaped must not live on in the cache (a zombie
// still exists). Called with the cache locked.
bool stillExists(pid_t pid, Clock::time_point now) {
    auto it = seenAlive.find(pid);
    if (it != seenAlive.end() && now - it->second < kAliveFor) return true;
    if (kill(pid, 0) != 0 && errno != EPERM) return false;
    seenAlive[pid] = now;
    return true;
}

// The cached reading of `key`, or a new one from `load` (an optional T,
// nullopt with errno set on failure, which is not kept).
template <typename T, typename Load>
std::optional<T> cached(Key key, Load load) {
    Clock::time_point now = Clock::now();
    {
        std::lock_guard<std::mutex> lock(cacheMutex);
        auto it = cache.find(key);
        if (it != cache.end() && now - it->second.at < kFreshFor &&
            (key.kind == Kind::Meminfo || stillExists(key.pid, now)))
            return std::get<T>(it->second.value);
    }
    std::optional<T> value = load();
    if (!value) return std::nullopt;
    std::lock_guard<std::mutex> lock(cacheMutex);
    if (cache.size() > kPruneAbove) {
        std::erase_if(cache, [&](const auto& item) { return now - item.second.at >= kFreshFor; });
        std::erase_if(seenAlive, [&](const auto& item) { return now - item.second >= kAliveFor; });
    }
    cache.insert_or_assign(key, Entry{now, *value});
    if (key.kind != Kind::Meminfo) seenAlive[key.pid] = now;
    return value;
}

// Reads one record of a file that the kernel writes whole on the first read
// (stat, status, meminfo) and parses it. Such a record fits the stack
// buffer; a read that does not fill it has it all. Larger records go to the
// heap.
template <typename T, typename Parse>
std::optional<T> readParsed(const char* path, Parse parse) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char buffer[16384];
    std::size_t size = 0;
    std::string spill;
    for (;;) {
        char* into = spill.empty() ? buffer + size : nullptr;
        std::size_t room = spill.empty() ? sizeof buffer - size : 0;
        if (room == 0) {
            if (spill.empty()) spill.assign(buffer, size);
            if (spill.size() > 1024 * 1024) break;
            spill.resize(size + sizeof buffer);
            into = spill.data() + size;
            room = sizeof buffer;
        }
        ssize_t n = read(fd, into, room);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int error = errno;
            close(fd);
            errno = error;
            return std::nullopt;
        }
        size += static_cast<std::size_t>(n);
        if (static_cast<std::size_t>(n) < room) break;
    }
    close(fd);
    if (!spill.empty()) spill.resize(size);
    std::optional<T> parsed =
        parse(spill.empty() ? std::string_view(buffer, size) : std::string_view(spill));
    if (!parsed) errno = EIO;
    return parsed;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// The next whitespace-separated word of `text` from `*pos`, or "".
std::string_view nextWord(std::string_view text, std::size_t* pos) {
    std::size_t i = *pos;
    while (i < text.size() && isSpace(text[i])) ++i;
    std::size_t start = i;
    while (i < text.size() && !isSpace(text[i])) ++i;
    *pos = i;
    return text.substr(start, i - start);
}

template <typename T>
bool number(std::string_view text, T* out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

// status escapes the name: backslash sequences for control characters and
// the backslash itself.
std::string unescaped(std::string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '\\' || i + 1 == name.size()) {
            out += name[i];
            continue;
        }
        char c = name[++i];
        switch (c) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'f':
                out += '\f';
                break;
            case 'v':
                out += '\v';
                break;
            case 'a':
                out += '\a';
                break;
            case 'e':
                out += '\x1b';
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

std::vector<pid_t> numericEntries(const char* folder) {
    std::vector<pid_t> ids;
    DIR* dir = opendir(folder);
    if (dir == nullptr) return ids;
    while (struct dirent* entry = readdir(dir)) {
        pid_t id = 0;
        if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9' && number(entry->d_name, &id))
            ids.push_back(id);
    }
    closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::optional<Stat> statOf(pid_t pid, pid_t tid) {
    return cached<Stat>(Key{Kind::Stat, pid, tid}, [&] {
        return readParsed<Stat>(procPath(pid, "stat", tid).c_str(), parseStat);
    });
}

}  // namespace

ProcPath procPath(pid_t pid, const char* leaf, pid_t tid) {
    ProcPath path;
    if (tid == 0)
        snprintf(path.text, sizeof path.text, "/proc/%d/%s", pid, leaf);
    else
        snprintf(path.text, sizeof path.text, "/proc/%d/task/%d/%s", pid, tid, leaf);
    return path;
}

bool appendFile(const char* path, std::size_t limit, std::string* out) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::size_t start = out->size();
    std::size_t chunk = 4096;
    while (out->size() - start < limit) {
        std::size_t had = out->size();
        std::size_t want = std::min(chunk, limit - (had - start));
        out->resize(had + want);
        ssize_t n = read(fd, out->data() + had, want);
        if (n < 0 && errno == EINTR) {
            out->resize(had);
            continue;
        }
        if (n < 0) {
            int error = errno;
            out->resize(start);
            close(fd);
            errno = error;
            return false;
        }
        out->resize(had + static_cast<std::size_t>(n));
        if (n == 0) break;
        chunk = std::min<std::size_t>(chunk * 2, 1 << 20);
    }
    close(fd);
    return true;
}

std::optional<Stat> parseStat(std::string_view text) {
    std::size_t close = text.rfind(')');
    if (text.find('(') == std::string_view::npos || close == std::string_view::npos) return {};
    // Fields of proc(5), counted from 3 (the state) after the name.
    std::string_view f[40];
    std::size_t pos = close + 1, count = 0;
    for (std::string_view w; count < 40 && !(w = nextWord(text, &pos)).empty();) f[count++] = w;
    if (count < 22 || f[0].size() != 1) return std::nullopt;
    Stat s;
    s.state = f[0][0];
    bool ok = number(f[7], &s.minorFaults) && number(f[9], &s.majorFaults) &&
              number(f[11], &s.userTicks) && number(f[12], &s.systemTicks) &&
              number(f[16], &s.nice) && number(f[17], &s.threads) && number(f[19], &s.startTicks) &&
              number(f[20], &s.virtualSize) && number(f[21], &s.residentPages);
    if (count >= 40) ok = ok && number(f[38], &s.rtPriority) && number(f[39], &s.policy);
    if (!ok) return std::nullopt;
    return s;
}

std::optional<Status> parseStatus(std::string_view text) {
    Status s;
    bool haveName = false, havePid = false, haveUid = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view key = line.substr(0, colon);
        std::string_view value = line.substr(colon + 1);
        std::size_t pos = 0;
        if (key == "Name") {
            if (!value.empty() && value.front() == '\t') value.remove_prefix(1);
            s.name = unescaped(value);
            haveName = true;
        } else if (key == "State") {
            std::string_view w = nextWord(value, &pos);
            if (!w.empty()) s.state = w[0];
        } else if (key == "Tgid") {
            number(nextWord(value, &pos), &s.tgid);
        } else if (key == "Pid") {
            havePid = number(nextWord(value, &pos), &s.pid);
        } else if (key == "PPid") {
            number(nextWord(value, &pos), &s.ppid);
        } else if (key == "Uid") {
            haveUid = true;
            for (uid_t& id : s.uid) haveUid = number(nextWord(value, &pos), &id) && haveUid;
        } else if (key == "Gid") {
            for (gid_t& id : s.gid) number(nextWord(value, &pos), &id);
        } else if (key == "voluntary_ctxt_switches") {
            number(nextWord(value, &pos), &s.voluntarySwitches);
        } else if (key == "nonvoluntary_ctxt_switches") {
            number(nextWord(value, &pos), &s.involuntarySwitches);
        }
    }
    if (!haveName || !havePid || !haveUid) return std::nullopt;
    return s;
}

std::optional<Meminfo> parseMeminfo(std::string_view text) {
    Meminfo m;
    int found = 0;
    while (!text.empty() && found < 4) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view key = line.substr(0, colon);
        std::uint64_t* field = key == "MemTotal"   ? &m.total
                               : key == "MemFree"  ? &m.free
                               : key == "Active"   ? &m.active
                               : key == "Inactive" ? &m.inactive
                                                   : nullptr;
        if (field == nullptr) continue;
        std::size_t pos = colon + 1;
        std::uint64_t kilobytes = 0;
        if (!number(nextWord(line, &pos), &kilobytes)) return std::nullopt;
        *field = kilobytes * 1024;
        ++found;
    }
    if (found != 4) return std::nullopt;
    return m;
}

std::optional<Stat> stat(pid_t pid, pid_t tid) {
    // The only thread of a process is the process: its figures are the same
    // reading, which saves a file per process.
    if (tid == pid) {
        std::optional<Stat> process = statOf(pid, 0);
        if (process && process->threads == 1) return process;
    }
    return statOf(pid, tid);
}

std::optional<Status> status(pid_t pid) {
    return cached<Status>(Key{Kind::Status, pid, 0}, [&] {
        return readParsed<Status>(procPath(pid, "status").c_str(), parseStatus);
    });
}

std::optional<std::vector<pid_t>> threadIDs(pid_t pid) {
    return cached<std::vector<pid_t>>(
        Key{Kind::Threads, pid, 0}, [&]() -> std::optional<std::vector<pid_t>> {
            // A process with one thread needs no listing: that thread is the
            // process itself.
            std::optional<Stat> process = statOf(pid, 0);
            if (!process) return std::nullopt;
            if (process->threads == 1) return std::vector<pid_t>{pid};
            std::vector<pid_t> ids = numericEntries(procPath(pid, "task").c_str());
            // An empty listing is a process that is gone (or going).
            if (ids.empty()) {
                errno = ESRCH;
                return std::nullopt;
            }
            return ids;
        });
}

std::optional<Meminfo> meminfo() {
    return cached<Meminfo>(Key{Kind::Meminfo, 0, 0},
                           [] { return readParsed<Meminfo>("/proc/meminfo", parseMeminfo); });
}

void sawAlive(pid_t pid) {
    std::lock_guard<std::mutex> lock(cacheMutex);
    seenAlive[pid] = Clock::now();
}

std::vector<pid_t> processIDs() {
    return numericEntries("/proc");
}

double secondsSinceBoot() {
    struct timespec now {};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) return 0;
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

long ticksPerSecond() {
    static const long ticks = [] {
        long t = sysconf(_SC_CLK_TCK);
        return t > 0 ? t : 100;
    }();
    return ticks;
}

}  // namespace proc::procfs
