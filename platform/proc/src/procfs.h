#pragma once
// Reading and parsing /proc: the files behind the process table and the
// task calls, and the short-lived cache that keeps one caller's run of
// questions about a process to one reading of each file.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace proc::procfs {

// /proc/PID/stat (or /proc/PID/task/TID/stat), the fields used here.
struct Stat {
    char state = '?';
    std::uint64_t minorFaults = 0;
    std::uint64_t majorFaults = 0;
    std::uint64_t userTicks = 0;
    std::uint64_t systemTicks = 0;
    long nice = 0;
    long threads = 0;
    std::uint64_t startTicks = 0;   // since boot
    std::uint64_t virtualSize = 0;  // bytes
    std::int64_t residentPages = 0;
    unsigned rtPriority = 0;
    unsigned policy = 0;
};

// /proc/PID/status, the fields used here.
struct Status {
    std::string name;  // unescaped
    char state = '?';
    pid_t tgid = 0;
    pid_t pid = 0;
    pid_t ppid = 0;
    uid_t uid[4] = {};  // real, effective, saved, file system
    gid_t gid[4] = {};
    std::uint64_t voluntarySwitches = 0;
    std::uint64_t involuntarySwitches = 0;
};

struct Meminfo {
    std::uint64_t total = 0;  // bytes
    std::uint64_t free = 0;
    std::uint64_t active = 0;
    std::uint64_t inactive = 0;
};

std::optional<Stat> parseStat(std::string_view text);
std::optional<Status> parseStatus(std::string_view text);
std::optional<Meminfo> parseMeminfo(std::string_view text);

// Cached readings (see mach.h for the rule). nullopt with errno set when the
// file cannot be read; tid 0 means the process itself.
std::optional<Stat> stat(pid_t pid, pid_t tid = 0);
std::optional<Status> status(pid_t pid);
std::optional<std::vector<pid_t>> threadIDs(pid_t pid);
std::optional<Meminfo> meminfo();

// Notes that the process was just seen to exist (some other file of it was
// read), which spares the next cached reading its check.
void sawAlive(pid_t pid);

// Uncached: every process ID in /proc, ascending.
std::vector<pid_t> processIDs();

// "/proc/PID/leaf" (or "/proc/PID/task/TID/leaf" when tid is not 0), made
// without the heap: the process list makes several per process.
struct ProcPath {
    char text[96];
    const char* c_str() const { return text; }
};
ProcPath procPath(pid_t pid, const char* leaf, pid_t tid = 0);

// Appends a whole file to *out, at most `limit` bytes of it (the rest is not
// read). false with errno set (and *out as it was) when it cannot be read.
bool appendFile(const char* path, std::size_t limit, std::string* out);

// Seconds since boot (the clock /proc's start times count from) and the
// length of a clock tick.
double secondsSinceBoot();
long ticksPerSecond();

}  // namespace proc::procfs
