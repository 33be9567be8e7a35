#pragma once
// Process inspection: a record per process, built from the kernel's process
// table and the process's task, and the functions that read a process's
// command, arguments, state, processor and memory use from it.
//
// Integer getters that read task or kernel information return
// kKVXProcessUnavailable when it cannot be read; the real-valued ones
// kKVXProcessUnavailableReal.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "proc/mach.h"

struct KVXProcess {
    KVXProcess() = default;
    KVXProcess(const KVXProcess&) = delete;
    KVXProcess& operator=(const KVXProcess&) = delete;
    // The record owns its task port and gives it back.
    ~KVXProcess();

    pid_t processIdentifier = 0;
    proc::mach_port_t taskPort = proc::MACH_PORT_NULL;  // none when it could not be had
    // Read together from the argument area on first use.
    std::optional<std::string> command;
    std::optional<std::string> launchPath;
    std::optional<std::vector<std::string>> arguments;
};

using KVXProcessRef = std::unique_ptr<KVXProcess>;

// Lowest value wins over a task's threads.
enum KVXProcessState : int {
    KVXProcessStateUnknown = 0,
    KVXProcessStateRunning = 1,
    KVXProcessStateUninterruptible = 2,
    KVXProcessStateSleeping = 3,
    KVXProcessStateIdle = 4,
    KVXProcessStateStopped = 5,
    KVXProcessStateZombie = 6,
    KVXProcessStateNonexistent = 7,
};

inline constexpr std::uint32_t kKVXProcessUnavailable = 0xFFFFFFFF;
inline constexpr double kKVXProcessUnavailableReal = 4294967295.0;

// Set by MachStatsInit.
extern int majorKernelVersion;
extern int minorKernelVersion;
extern int updateKernelVersion;
extern std::uint32_t sharedTextSegment;
extern std::uint32_t sharedTextRegionSize;
extern std::uint32_t sharedDataRegionSize;
extern std::uint32_t argumentBufferSize;

// Reads the kernel release and argument-area limit into the globals above.
// 0, or 5 when the release cannot be read (the globals stay as they were).
int MachStatsInit();

// A record for the process, or null when there is no such process.
KVXProcessRef KVXProcessCreate(pid_t pid);
// Releases the record and empties the handle; a null handle or record: nothing.
void KVXProcessRelease(KVXProcessRef* process);
// One record per process the kernel lists for the selector (KERN_PROC_ALL,
// KERN_PROC_UID, ...) and value, in the kernel's order, without processes
// that ended in between; empty when the table cannot be read.
std::vector<KVXProcessRef> KVXProcessGetProcessesForThirdLevelName(int selector, int value);
std::vector<KVXProcessRef> KVXProcessGetAllProcesses();

pid_t KVXProcessGetProcessIdentifier(const KVXProcess& process);
std::uint32_t KVXProcessGetRealUserIdentifier(const KVXProcess& process);
std::uint32_t KVXProcessGetUserIdentifier(const KVXProcess& process);
std::string KVXProcessGetCommand(KVXProcess& process);
std::string KVXProcessGetLaunchPath(KVXProcess& process);
std::vector<std::string> KVXProcessGetArguments(KVXProcess& process);
int KVXProcessGetState(const KVXProcess& process);
std::uint32_t KVXProcessGetThreadCount(const KVXProcess& process);
// 1.0 is one processor fully busy.
double KVXProcessGetPercentCPUUsage(const KVXProcess& process);
// 1.0 is all of the machine's memory.
double KVXProcessGetPercentMemoryUsage(const KVXProcess& process);
std::uint32_t KVXProcessGetVirtualMemorySize(const KVXProcess& process);
std::uint32_t KVXProcessGetResidentMemorySize(const KVXProcess& process);
std::uint32_t KVXProcessGetPriority(const KVXProcess& process);
std::uint32_t KVXProcessGetBasePriority(const KVXProcess& process);
std::uint32_t KVXProcessGetFaults(const KVXProcess& process);
std::uint32_t KVXProcessGetPageins(const KVXProcess& process);
std::uint32_t KVXProcessGetCopyOnWriteFaults(const KVXProcess& process);

// Task functions: 0 or the status of the first failing call; outputs are
// written only on success and only where given.
proc::kern_return_t GetMachTaskEvents(proc::mach_port_t task, std::int32_t* faults,
                                      std::int32_t* pageins, std::int32_t* cowFaults,
                                      std::int32_t* messagesSent, std::int32_t* messagesReceived,
                                      std::int32_t* machSyscalls, std::int32_t* unixSyscalls,
                                      std::int32_t* contextSwitches);
proc::kern_return_t GetMachTaskPriority(proc::mach_port_t task, std::int32_t* priority,
                                        std::int32_t* basePriority);
proc::kern_return_t GetMachTaskMemoryUsage(proc::mach_port_t task, std::uint32_t* virtualSize,
                                           std::uint32_t* residentSize, double* residentShare);

// What an argument area yields: the launch path, the command, and the
// arguments with the environment taken off. `stringsFollow` is false when
// nothing came after the executable path (or the area was too short to
// hold its count), which is when the kernel's short name stands in.
struct KVXProcessArgumentArea {
    std::optional<std::string> launchPath;
    std::optional<std::string> command;
    std::vector<std::string> arguments;
    bool stringsFollow = false;
};
KVXProcessArgumentArea KVXProcessParseArgumentArea(std::string_view area, bool hasCount);
