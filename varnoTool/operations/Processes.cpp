#include "operations/Processes.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Protocol.h"
#include "operations/KVXProcess.h"

namespace {

constexpr const char* kIdentifier = contract::id::kQueryProcesses.data();
constexpr const char* kOutputKey = contract::kProcessesKey.data();

// Shares above two processors (or all memory twice over) are not believable,
// and the unavailable marker is far above that: both are written as -1.
double shareOrMinusOne(double share) {
    return share > 2.0 ? -1.0 : share;
}

// What the record keeps of the processes' strings, so that its size (and the
// executor's memory) stays bounded however large their argument areas are.
// A cut string or argument list ends with the ellipsis.
constexpr std::size_t kMaxStringBytes = 4096;
constexpr std::size_t kMaxArgumentBytesPerProcess = 64 * 1024;
constexpr std::size_t kMaxArgumentBytesInAll = 8 * 1024 * 1024;
constexpr std::string_view kCutMark = "\xE2\x80\xA6";  // U+2026

std::string bounded(std::string s) {
    if (s.size() <= kMaxStringBytes) return s;
    std::size_t cut = kMaxStringBytes - kCutMark.size();
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    s.resize(cut);
    s += kCutMark;
    return s;
}

// The arguments within the process's share and what is left of the whole
// record's; *leftInAll is reduced by what is kept.
plist::Array boundedArguments(std::vector<std::string>& arguments, std::size_t* leftInAll) {
    plist::Array values;
    std::size_t room = std::min(kMaxArgumentBytesPerProcess, *leftInAll);
    for (std::string& argument : arguments) {
        std::string kept = bounded(std::move(argument));
        if (kept.size() > room) {
            values.emplace_back(std::string(kCutMark));
            break;
        }
        room -= kept.size();
        *leftInAll -= kept.size();
        values.emplace_back(std::move(kept));
    }
    return values;
}

// The record stores every integer as a signed 32-bit number.
plist::Value int32(std::uint32_t value) {
    return plist::Value::integer(static_cast<std::int32_t>(value));
}

}  // namespace

int queryProcesses(const plist::Dictionary&) {
    std::vector<KVXProcessRef> processes = KVXProcessGetAllProcesses();
    const pid_t self = getpid();
    plist::Array list;
    list.reserve(processes.size());
    std::size_t argumentBytesLeft = kMaxArgumentBytesInAll;
    for (KVXProcessRef& process : processes) {
        if (KVXProcessGetProcessIdentifier(*process) == self) continue;
        std::string command = KVXProcessGetCommand(*process);
        std::vector<std::string> arguments = KVXProcessGetArguments(*process);
        std::string launchPath = KVXProcessGetLaunchPath(*process);
        double cpu = KVXProcessGetPercentCPUUsage(*process);
        std::uint32_t threads = KVXProcessGetThreadCount(*process);
        std::uint32_t user = KVXProcessGetUserIdentifier(*process);
        double memory = KVXProcessGetPercentMemoryUsage(*process);
        std::uint32_t virtualSize = KVXProcessGetVirtualMemorySize(*process);
        std::uint32_t residentSize = KVXProcessGetResidentMemorySize(*process);
        std::uint32_t priority = KVXProcessGetPriority(*process);
        std::uint32_t faults = KVXProcessGetFaults(*process);
        std::uint32_t pageins = KVXProcessGetPageins(*process);

        plist::Array argumentValues = boundedArguments(arguments, &argumentBytesLeft);
        arguments = {};
        plist::Dictionary entry;
        entry["PID"] = int32(static_cast<std::uint32_t>(KVXProcessGetProcessIdentifier(*process)));
        entry["Command"] = plist::Value(bounded(std::move(command)));
        entry["LaunchPath"] = plist::Value(bounded(std::move(launchPath)));
        entry["Arguments"] = plist::Value(std::move(argumentValues));
        entry["PercentCPU"] = plist::Value::real(shareOrMinusOne(cpu));
        entry["ThreadCount"] = int32(threads);
        entry["EffectiveUser"] = int32(user);
        entry["PercentMemory"] = plist::Value::real(shareOrMinusOne(memory));
        entry["VMSize"] = int32(virtualSize);
        entry["ResidentMemorySize"] = int32(residentSize);
        entry["Priority"] = int32(priority);
        entry["Faults"] = int32(faults);
        entry["Pageins"] = int32(pageins);
        list.emplace_back(std::move(entry));
        // What was read of its argument area goes now, not with the list.
        KVXProcessRelease(&process);
    }
    plist::Dictionary record;
    record[kOutputKey] = plist::Value(std::move(list));
    writeDictionaryWithID(record, kIdentifier);
    return 0;
}
