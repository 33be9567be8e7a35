#include "operations/KVXProcess.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "Utilities.h"
#include "plist/display.h"
#include "proc/sysctl.h"

using namespace proc;

int majorKernelVersion = 0;
int minorKernelVersion = 0;
int updateKernelVersion = 0;
std::uint32_t sharedTextSegment = 0;
std::uint32_t sharedTextRegionSize = 0;
std::uint32_t sharedDataRegionSize = 0;
std::uint32_t argumentBufferSize = 0;

namespace {

constexpr std::uint32_t kDefaultArgumentBufferSize = 4096;
constexpr std::uint32_t kOldKernelArgumentBufferCap = 8192;
constexpr int kSleepingAtMost = 20;  // seconds a waiting thread may sleep and still be "sleeping"

// The thread ports of a task, given back when the list goes.
class ThreadList {
  public:
    explicit ThreadList(mach_port_t task) : status_(task_threads(task, &threads_)) {}
    ~ThreadList() {
        for (mach_port_t thread : threads_) mach_port_deallocate(mach_task_self(), thread);
    }
    ThreadList(const ThreadList&) = delete;
    ThreadList& operator=(const ThreadList&) = delete;
    kern_return_t status() const { return status_; }
    const std::vector<mach_port_t>& threads() const { return threads_; }

  private:
    std::vector<mach_port_t> threads_;
    kern_return_t status_;
};

std::optional<kinfo_proc> processEntry(pid_t pid) {
    int name[] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
    kinfo_proc entry{};
    std::size_t size = sizeof entry;
    if (sysctl(name, 4, &entry, &size, nullptr, 0) != 0 || size == 0) return std::nullopt;
    return entry;
}

int stateOfThread(const thread_basic_info& info) {
    switch (info.run_state) {
        case TH_STATE_RUNNING:
            return KVXProcessStateRunning;
        case TH_STATE_STOPPED:
            return KVXProcessStateStopped;
        case TH_STATE_WAITING:
            return info.sleep_time <= kSleepingAtMost ? KVXProcessStateSleeping
                                                      : KVXProcessStateIdle;
        case TH_STATE_UNINTERRUPTIBLE:
            return KVXProcessStateUninterruptible;
        case TH_STATE_HALTED:
            return KVXProcessStateZombie;
        default:
            return KVXProcessStateUnknown;
    }
}

// Reads the argument area (once per record; see KVXProcessGetCommand).
void readArgumentArea(KVXProcess& process) {
    bool newer = majorKernelVersion >= 8;
    int name[] = {CTL_KERN, newer ? KERN_PROCARGS2 : KERN_PROCARGS, process.processIdentifier};
    // One buffer of the limit's size serves every process of this
    // single-threaded program: the limit is large, and a fresh allocation
    // per process costs more than the read. It is left uninitialised: only
    // what the kernel writes is read.
    static std::unique_ptr<char[]> buffer;
    static std::uint32_t bufferSize = 0;
    if (bufferSize < argumentBufferSize) {
        buffer.reset(new (std::nothrow) char[argumentBufferSize]);
        bufferSize = buffer ? argumentBufferSize : 0;
    }
    std::size_t size = std::min(argumentBufferSize, bufferSize);
    KVXProcessArgumentArea area;
    if (size > 0 && sysctl(name, 3, buffer.get(), &size, nullptr, 0) == 0)
        area = KVXProcessParseArgumentArea(std::string_view(buffer.get(), size), newer);
    process.launchPath = area.launchPath;
    process.arguments = std::move(area.arguments);
    if (area.stringsFollow) {
        process.command = area.command;
        return;
    }
    std::optional<kinfo_proc> entry = processEntry(process.processIdentifier);
    // The kernel keeps whatever bytes the process set as its name.
    process.command = entry ? plist::validUTF8(std::string_view(
                                  entry->kp_proc.p_comm, strnlen(entry->kp_proc.p_comm, MAXCOMLEN)))
                            : std::string();
}

// Whether the terminated string at `terminated` (the bytes of `piece`) is
// UTF-8; plain ASCII, as nearly every argument is, needs no decoding.
bool isUTF8(std::string_view piece, const char* terminated) {
    for (char c : piece)
        if (static_cast<unsigned char>(c) >= 0x80)
            return cfStringFromUTF8String(terminated).has_value();
    return true;
}

void fillArgumentsOnce(KVXProcess& process) {
    if (!process.command) readArgumentArea(process);
}

}  // namespace

KVXProcess::~KVXProcess() {
    if (taskPort != MACH_PORT_NULL) mach_port_deallocate(mach_task_self(), taskPort);
}

KVXProcessArgumentArea KVXProcessParseArgumentArea(std::string_view data, bool hasCount) {
    KVXProcessArgumentArea out;
    long count = -1;  // unknown in the older layout
    std::size_t pos = 0;
    if (hasCount) {
        std::int32_t stored = 0;
        if (data.size() < sizeof stored) return out;
        memcpy(&stored, data.data(), sizeof stored);
        count = stored;
        pos = sizeof stored;
    }
    std::size_t pathEnd = data.find('\0', pos);
    if (pathEnd == std::string_view::npos) {
        pathEnd = data.size();
        out.launchPath = cfStringFromUTF8String(std::string(data.substr(pos)).c_str());
    } else {
        out.launchPath = cfStringFromUTF8String(data.data() + pos);
    }
    pos = pathEnd;
    while (pos < data.size() && data[pos] == '\0') ++pos;
    if (pos >= data.size()) return out;
    out.stringsFollow = true;

    // Views into the area: most strings are environment and are dropped.
    std::vector<std::string_view> list;
    const long argumentCount = count;
    long walked = 0;
    // Only strings the area terminates count; a cut-off last one is dropped.
    for (std::size_t end; pos < data.size() && (end = data.find('\0', pos)) != data.npos;
         pos = end + 1) {
        std::string_view piece = data.substr(pos, end - pos);
        bool isArgument = walked++ < argumentCount;
        if (piece.empty() || !isUTF8(piece, data.data() + pos)) {
            // An empty or undecodable argument is still one of the count:
            // without it the environment would be taken for arguments.
            if (isArgument) --count;
            continue;
        }
        std::string component = lastPathComponent(piece, false);
        if (component.empty() || component == "LaunchCFMApp") {
            --count;
        } else if (!out.command) {
            out.command = std::move(component);
        } else if (piece.substr(0, 2) == "_=") {
            list.push_back(piece);
        } else if (component == *out.command) {
            --count;
        } else {
            list.push_back(piece);
        }
    }

    // The environment follows the arguments: with a count, the strings from
    // index count - 1 on; without one, the trailing strings that hold "=".
    long lowest = hasCount ? std::max(count - 1, 0L) : 1;
    long i = static_cast<long>(list.size()) - 1;
    while (i >= lowest && list[static_cast<std::size_t>(i)].find('=') != std::string::npos) --i;
    out.arguments.assign(list.begin(), list.begin() + (i + 1));
    return out;
}

int MachStatsInit() {
    int releaseName[] = {CTL_KERN, KERN_OSRELEASE};
    char release[256] = {};
    std::size_t size = sizeof release - 1;
    if (sysctl(releaseName, 2, release, &size, nullptr, 0) != 0) return 5;
    int major = 0, minor = 0, update = 0;
    sscanf(release, "%d.%d.%d", &major, &minor, &update);
    majorKernelVersion = major;
    minorKernelVersion = minor;
    updateKernelVersion = update;
    sharedTextSegment = majorKernelVersion > 5 ? 0x90000000 : 0x70000000;
    sharedTextRegionSize = 0x10000000;
    sharedDataRegionSize = 0x10000000;

    int argmaxName[] = {CTL_KERN, KERN_ARGMAX};
    std::int32_t argmax = 0;
    size = sizeof argmax;
    if (sysctl(argmaxName, 2, &argmax, &size, nullptr, 0) != 0 || argmax <= 0)
        argmax = kDefaultArgumentBufferSize;
    if (majorKernelVersion < 7 && static_cast<std::uint32_t>(argmax) > kOldKernelArgumentBufferCap)
        argmax = kOldKernelArgumentBufferCap;
    argumentBufferSize = static_cast<std::uint32_t>(argmax);
    return 0;
}

KVXProcessRef KVXProcessCreate(pid_t pid) {
    MachStatsInit();
    auto process = std::make_unique<KVXProcess>();
    process->processIdentifier = pid;
    mach_port_t task = MACH_PORT_NULL;
    if (task_for_pid(mach_task_self(), pid, &task) != KERN_SUCCESS) task = MACH_PORT_NULL;
    process->taskPort = task;
    if (KVXProcessGetState(*process) == KVXProcessStateNonexistent) return nullptr;
    return process;
}

void KVXProcessRelease(KVXProcessRef* process) {
    if (process != nullptr) process->reset();
}

std::vector<KVXProcessRef> KVXProcessGetProcessesForThirdLevelName(int selector, int value) {
    std::vector<KVXProcessRef> processes;
    int name[] = {CTL_KERN, KERN_PROC, selector, value};
    unsigned length = selector == KERN_PROC_ALL ? 3 : 4;
    std::size_t size = 0;
    if (sysctl(name, length, nullptr, &size, nullptr, 0) != 0) return processes;
    std::vector<kinfo_proc> entries(size / sizeof(kinfo_proc));
    size = entries.size() * sizeof(kinfo_proc);
    if (sysctl(name, length, entries.data(), &size, nullptr, 0) != 0) return processes;
    entries.resize(size / sizeof(kinfo_proc));
    for (const kinfo_proc& entry : entries) {
        if (KVXProcessRef process = KVXProcessCreate(entry.kp_proc.p_pid))
            processes.push_back(std::move(process));
    }
    return processes;
}

std::vector<KVXProcessRef> KVXProcessGetAllProcesses() {
    return KVXProcessGetProcessesForThirdLevelName(KERN_PROC_ALL, 0);
}

pid_t KVXProcessGetProcessIdentifier(const KVXProcess& process) {
    return process.processIdentifier;
}

std::uint32_t KVXProcessGetRealUserIdentifier(const KVXProcess& process) {
    std::optional<kinfo_proc> entry = processEntry(process.processIdentifier);
    return entry ? entry->kp_eproc.e_pcred.p_ruid : kKVXProcessUnavailable;
}

std::uint32_t KVXProcessGetUserIdentifier(const KVXProcess& process) {
    std::optional<kinfo_proc> entry = processEntry(process.processIdentifier);
    return entry ? entry->kp_eproc.e_ucred.cr_uid : kKVXProcessUnavailable;
}

std::string KVXProcessGetCommand(KVXProcess& process) {
    fillArgumentsOnce(process);
    return process.command.value_or("");
}

std::string KVXProcessGetLaunchPath(KVXProcess& process) {
    fillArgumentsOnce(process);
    return process.launchPath.value_or("");
}

std::vector<std::string> KVXProcessGetArguments(KVXProcess& process) {
    fillArgumentsOnce(process);
    return process.arguments.value_or(std::vector<std::string>{});
}

int KVXProcessGetState(const KVXProcess& process) {
    std::optional<kinfo_proc> entry = processEntry(process.processIdentifier);
    if (!entry) return KVXProcessStateNonexistent;
    if (entry->kp_proc.p_stat == SZOMB) return KVXProcessStateZombie;
    ThreadList list(process.taskPort);
    if (list.status() != KERN_SUCCESS) return KVXProcessStateUnknown;
    // A task without threads has nothing to tell: its state is unknown.
    int state = std::numeric_limits<int>::max();
    for (mach_port_t thread : list.threads()) {
        thread_basic_info info{};
        if (thread_info(thread, &info) != KERN_SUCCESS) return KVXProcessStateUnknown;
        state = std::min(state, stateOfThread(info));
    }
    return list.threads().empty() ? KVXProcessStateUnknown : state;
}

std::uint32_t KVXProcessGetThreadCount(const KVXProcess& process) {
    ThreadList list(process.taskPort);
    if (list.status() != KERN_SUCCESS) return kKVXProcessUnavailable;
    return static_cast<std::uint32_t>(list.threads().size());
}

double KVXProcessGetPercentCPUUsage(const KVXProcess& process) {
    task_basic_info task{};
    if (task_info(process.taskPort, &task) != KERN_SUCCESS) return kKVXProcessUnavailableReal;
    ThreadList list(process.taskPort);
    if (list.status() != KERN_SUCCESS) return kKVXProcessUnavailableReal;
    double share = 0;
    for (mach_port_t thread : list.threads()) {
        thread_basic_info info{};
        if (thread_info(thread, &info) != KERN_SUCCESS) return kKVXProcessUnavailableReal;
        share += info.cpu_usage / static_cast<double>(TH_USAGE_SCALE);
    }
    return share;
}

double KVXProcessGetPercentMemoryUsage(const KVXProcess& process) {
    double share = 0;
    if (GetMachTaskMemoryUsage(process.taskPort, nullptr, nullptr, &share) != KERN_SUCCESS)
        return kKVXProcessUnavailableReal;
    return share;
}

std::uint32_t KVXProcessGetVirtualMemorySize(const KVXProcess& process) {
    std::uint32_t size = 0;
    if (GetMachTaskMemoryUsage(process.taskPort, &size, nullptr, nullptr) != KERN_SUCCESS)
        return kKVXProcessUnavailable;
    return size;
}

std::uint32_t KVXProcessGetResidentMemorySize(const KVXProcess& process) {
    std::uint32_t size = 0;
    if (GetMachTaskMemoryUsage(process.taskPort, nullptr, &size, nullptr) != KERN_SUCCESS)
        return kKVXProcessUnavailable;
    return size;
}

std::uint32_t KVXProcessGetPriority(const KVXProcess& process) {
    std::int32_t priority = 0;
    if (GetMachTaskPriority(process.taskPort, &priority, nullptr) != KERN_SUCCESS)
        return kKVXProcessUnavailable;
    return static_cast<std::uint32_t>(priority);
}

std::uint32_t KVXProcessGetBasePriority(const KVXProcess& process) {
    std::int32_t priority = 0;
    if (GetMachTaskPriority(process.taskPort, nullptr, &priority) != KERN_SUCCESS)
        return kKVXProcessUnavailable;
    return static_cast<std::uint32_t>(priority);
}

std::uint32_t KVXProcessGetFaults(const KVXProcess& process) {
    std::int32_t n = 0;
    if (GetMachTaskEvents(process.taskPort, &n, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr) != KERN_SUCCESS)
        return kKVXProcessUnavailable;
    return static_cast<std::uint32_t>(n);
}

std::uint32_t KVXProcessGetPageins(const KVXProcess& process) {
    std::int32_t n = 0;
    if (GetMachTaskEvents(process.taskPort, nullptr, &n, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr) != KERN_SUCCESS)
        return kKVXProcessUnavailable;
    return static_cast<std::uint32_t>(n);
}

std::uint32_t KVXProcessGetCopyOnWriteFaults(const KVXProcess& process) {
    std::int32_t n = 0;
    if (GetMachTaskEvents(process.taskPort, nullptr, nullptr, &n, nullptr, nullptr, nullptr,
                          nullptr, nullptr) != KERN_SUCCESS)
        return kKVXProcessUnavailable;
    return static_cast<std::uint32_t>(n);
}

kern_return_t GetMachTaskEvents(mach_port_t task, std::int32_t* faults, std::int32_t* pageins,
                                std::int32_t* cowFaults, std::int32_t* messagesSent,
                                std::int32_t* messagesReceived, std::int32_t* machSyscalls,
                                std::int32_t* unixSyscalls, std::int32_t* contextSwitches) {
    task_events_info events{};
    kern_return_t kr = task_info(task, &events);
    if (kr != KERN_SUCCESS) return kr;
    if (faults) *faults = events.faults;
    if (pageins) *pageins = events.pageins;
    if (cowFaults) *cowFaults = events.cow_faults;
    if (messagesSent) *messagesSent = events.messages_sent;
    if (messagesReceived) *messagesReceived = events.messages_received;
    if (machSyscalls) *machSyscalls = events.syscalls_mach;
    if (unixSyscalls) *unixSyscalls = events.syscalls_unix;
    if (contextSwitches) *contextSwitches = events.csw;
    return KERN_SUCCESS;
}

kern_return_t GetMachTaskPriority(mach_port_t task, std::int32_t* priority,
                                  std::int32_t* basePriority) {
    ThreadList list(task);
    if (list.status() != KERN_SUCCESS) return list.status();
    std::int32_t highest = 0, highestBase = 0;
    for (mach_port_t thread : list.threads()) {
        thread_basic_info info{};
        kern_return_t kr = thread_info(thread, &info);
        if (kr != KERN_SUCCESS) return kr;
        std::int32_t current = 0, base = 0;
        if (info.policy == POLICY_TIMESHARE) {
            policy_timeshare_info timeshare{};
            if ((kr = thread_info(thread, &timeshare)) != KERN_SUCCESS) return kr;
            current = timeshare.cur_priority;
            base = timeshare.base_priority;
        } else if (info.policy == POLICY_RR) {
            policy_rr_info rr{};
            if ((kr = thread_info(thread, &rr)) != KERN_SUCCESS) return kr;
            current = base = rr.base_priority;
        } else if (info.policy == POLICY_FIFO) {
            policy_fifo_info fifo{};
            if ((kr = thread_info(thread, &fifo)) != KERN_SUCCESS) return kr;
            current = base = fifo.base_priority;
        }
        highest = std::max(highest, current);
        highestBase = std::max(highestBase, base);
    }
    if (priority) *priority = highest;
    if (basePriority) *basePriority = highestBase;
    return KERN_SUCCESS;
}

kern_return_t GetMachTaskMemoryUsage(mach_port_t task, std::uint32_t* virtualSize,
                                     std::uint32_t* residentSize, double* residentShare) {
    task_basic_info info{};
    kern_return_t kr = task_info(task, &info);
    if (kr != KERN_SUCCESS) return kr;
    host_basic_info host{};
    if ((kr = host_info(mach_host_self(), &host)) != KERN_SUCCESS) return kr;

    std::uint64_t address = sharedTextSegment, size = 0;
    vm_region_basic_info region{};
    if ((kr = vm_region(task, &address, &size, &region)) != KERN_SUCCESS) return kr;
    std::uint64_t virtualBytes = info.virtual_size;
    if (region.reserved) virtualBytes -= sharedTextRegionSize + sharedDataRegionSize;

    std::uint64_t pageSize = 0;
    vm_statistics vm{};
    if ((kr = host_page_size(mach_host_self(), &pageSize)) != KERN_SUCCESS) return kr;
    if ((kr = host_statistics(mach_host_self(), &vm)) != KERN_SUCCESS) return kr;
    natural_t pages = vm.free_count + vm.active_count + vm.inactive_count + vm.wire_count;
    std::uint64_t physical = static_cast<std::uint64_t>(pages) * pageSize;
    if (physical == 0) return KERN_FAILURE;

    if (virtualSize) *virtualSize = static_cast<std::uint32_t>(virtualBytes);
    if (residentSize) *residentSize = static_cast<std::uint32_t>(info.resident_size);
    if (residentShare)
        *residentShare = static_cast<double>(info.resident_size) / static_cast<double>(physical);
    return KERN_SUCCESS;
}
