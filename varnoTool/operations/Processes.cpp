#include "operations/Processes.h"

#include <unistd.h>

#include <cstdint>
#include <string>
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

        plist::Array argumentValues;
        argumentValues.reserve(arguments.size());
        for (std::string& argument : arguments) argumentValues.emplace_back(std::move(argument));
        plist::Dictionary entry;
        entry["PID"] = int32(static_cast<std::uint32_t>(KVXProcessGetProcessIdentifier(*process)));
        entry["Command"] = plist::Value(std::move(command));
        entry["LaunchPath"] = plist::Value(std::move(launchPath));
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
    }
    plist::Dictionary record;
    record[kOutputKey] = plist::Value(std::move(list));
    writeDictionaryWithID(record, kIdentifier);
    return 0;
}
