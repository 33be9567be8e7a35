#include "proc/mach.h"

#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "procfs.h"

namespace proc {
namespace {

constexpr mach_port_t kSelfPort = 0x103;
constexpr mach_port_t kHostPort = 0x203;
constexpr mach_port_t kFirstDynamicPort = 0x1003;

// Linux scheduling policies (sched.h).
constexpr unsigned kSchedOther = 0, kSchedFIFO = 1, kSchedRR = 2, kSchedBatch = 3, kSchedIdle = 5;

constexpr integer_t kTimeshareDefault = 31;
constexpr integer_t kTimeshareMax = 63;
constexpr integer_t kRealtimeLow = 97;
constexpr integer_t kRealtimeHigh = 127;

// The Mach CPU type and subtype of this machine.
#if defined(__aarch64__)
constexpr integer_t kCPUType = 0x0100000C;
constexpr integer_t kCPUSubtype = 0;
#else
constexpr integer_t kCPUType = 0x01000007;
constexpr integer_t kCPUSubtype = 3;
#endif

struct Port {
    bool isThread = false;
    pid_t pid = 0;
    pid_t tid = 0;
    std::uint64_t startTicks = 0;  // of the process, for task ports
};

std::mutex portMutex;
std::unordered_map<mach_port_t, Port> ports;
mach_port_t nextPortName = kFirstDynamicPort;

mach_port_t allocatePort(const Port& port) {
    std::lock_guard<std::mutex> lock(portMutex);
    mach_port_t name;
    do {
        name = nextPortName;
        nextPortName += 4;
        if (nextPortName < kFirstDynamicPort) nextPortName = kFirstDynamicPort;
    } while (ports.count(name) != 0);
    ports[name] = port;
    return name;
}

std::optional<Port> findPort(mach_port_t name, bool thread) {
    std::lock_guard<std::mutex> lock(portMutex);
    auto it = ports.find(name);
    if (it == ports.end() || it->second.isThread != thread) return std::nullopt;
    return it->second;
}

// The process behind a task port and its current figures, as long as it is
// still the process the port was made for.
kern_return_t liveTask(mach_port_t task, pid_t* pid, procfs::Stat* figures) {
    std::optional<Port> port;
    if (task == kSelfPort) {
        port = Port{false, getpid(), 0, 0};
    } else {
        port = findPort(task, false);
        if (!port) return MACH_SEND_INVALID_DEST;
    }
    std::optional<procfs::Stat> st = procfs::stat(port->pid);
    if (!st || (task != kSelfPort && st->startTicks != port->startTicks))
        return MACH_SEND_INVALID_DEST;
    *pid = port->pid;
    *figures = *st;
    return KERN_SUCCESS;
}

kern_return_t liveThread(mach_port_t thread, procfs::Stat* figures) {
    std::optional<Port> port = findPort(thread, true);
    if (!port) return MACH_SEND_INVALID_DEST;
    std::optional<procfs::Stat> st = procfs::stat(port->pid, port->tid);
    if (!st) return MACH_SEND_INVALID_DEST;
    *figures = *st;
    return KERN_SUCCESS;
}

time_value_t timeFromTicks(std::uint64_t ticks) {
    long perSecond = procfs::ticksPerSecond();
    return {static_cast<integer_t>(ticks / static_cast<std::uint64_t>(perSecond)),
            static_cast<integer_t>(ticks % static_cast<std::uint64_t>(perSecond) * 1000000 /
                                   static_cast<std::uint64_t>(perSecond))};
}

integer_t runState(char state) {
    switch (state) {
        case 'R':
            return TH_STATE_RUNNING;
        case 'S':
        case 'I':
        case 'P':
            return TH_STATE_WAITING;
        case 'D':
            return TH_STATE_UNINTERRUPTIBLE;
        case 'T':
        case 't':
            return TH_STATE_STOPPED;
        case 'Z':
        case 'X':
        case 'x':
            return TH_STATE_HALTED;
        default:
            return 0;
    }
}

int machPolicy(unsigned linuxPolicy) {
    switch (linuxPolicy) {
        case kSchedOther:
        case kSchedBatch:
        case kSchedIdle:
            return POLICY_TIMESHARE;
        case kSchedRR:
            return POLICY_RR;
        case kSchedFIFO:
            return POLICY_FIFO;
        default:
            return POLICY_NULL;
    }
}

integer_t timesharePriority(const procfs::Stat& st) {
    if (st.policy == kSchedIdle) return 0;
    return std::clamp<integer_t>(kTimeshareDefault - static_cast<integer_t>(st.nice), 0,
                                 kTimeshareMax);
}

integer_t realtimePriority(const procfs::Stat& st) {
    integer_t rt = std::clamp<integer_t>(static_cast<integer_t>(st.rtPriority), 1, 99);
    return std::min(kRealtimeLow + (rt - 1) * 30 / 98, kRealtimeHigh);
}

}  // namespace

mach_port_t mach_task_self() {
    return kSelfPort;
}
mach_port_t mach_host_self() {
    return kHostPort;
}

kern_return_t task_for_pid(mach_port_t target, int pid, mach_port_t* task) {
    if (target != kSelfPort || task == nullptr || pid <= 0) return KERN_FAILURE;
    std::optional<procfs::Stat> st = procfs::stat(pid);
    if (!st) return KERN_FAILURE;
    std::optional<procfs::Status> status = procfs::status(pid);
    if (!status || status->tgid != pid) return KERN_FAILURE;
    uid_t me = geteuid();
    if (me != 0 && status->uid[1] != me) return KERN_FAILURE;
    *task = allocatePort(Port{false, pid, 0, st->startTicks});
    return KERN_SUCCESS;
}

kern_return_t mach_port_deallocate(mach_port_t space, mach_port_t name) {
    if (space != kSelfPort) return KERN_INVALID_ARGUMENT;
    if (name == kSelfPort || name == kHostPort || name == MACH_PORT_NULL) return KERN_SUCCESS;
    std::lock_guard<std::mutex> lock(portMutex);
    return ports.erase(name) == 1 ? KERN_SUCCESS : KERN_INVALID_ARGUMENT;
}

kern_return_t task_info(mach_port_t task, task_basic_info* info) {
    pid_t pid;
    procfs::Stat st;
    if (kern_return_t kr = liveTask(task, &pid, &st); kr != KERN_SUCCESS) return kr;
    long pageSize = sysconf(_SC_PAGESIZE);
    info->suspend_count = st.state == 'T' ? 1 : 0;
    info->virtual_size = st.virtualSize;
    info->resident_size = st.residentPages > 0 ? static_cast<std::uint64_t>(st.residentPages) *
                                                     static_cast<std::uint64_t>(pageSize)
                                               : 0;
    info->user_time = timeFromTicks(st.userTicks);
    info->system_time = timeFromTicks(st.systemTicks);
    info->policy = POLICY_TIMESHARE;
    return KERN_SUCCESS;
}

kern_return_t task_info(mach_port_t task, task_events_info* info) {
    pid_t pid;
    procfs::Stat st;
    if (kern_return_t kr = liveTask(task, &pid, &st); kr != KERN_SUCCESS) return kr;
    std::optional<procfs::Status> status = procfs::status(pid);
    if (!status) return MACH_SEND_INVALID_DEST;
    *info = task_events_info{};
    info->faults = static_cast<integer_t>(st.minorFaults + st.majorFaults);
    info->pageins = static_cast<integer_t>(st.majorFaults);
    info->csw = static_cast<integer_t>(status->voluntarySwitches + status->involuntarySwitches);
    return KERN_SUCCESS;
}

kern_return_t task_threads(mach_port_t task, std::vector<mach_port_t>* threads) {
    pid_t pid;
    procfs::Stat st;
    if (kern_return_t kr = liveTask(task, &pid, &st); kr != KERN_SUCCESS) return kr;
    std::optional<std::vector<pid_t>> ids = procfs::threadIDs(pid);
    if (!ids) return MACH_SEND_INVALID_DEST;
    threads->clear();
    for (pid_t tid : *ids) threads->push_back(allocatePort(Port{true, pid, tid, 0}));
    return KERN_SUCCESS;
}

kern_return_t thread_info(mach_port_t thread, thread_basic_info* info) {
    procfs::Stat st;
    if (kern_return_t kr = liveThread(thread, &st); kr != KERN_SUCCESS) return kr;
    double perSecond = static_cast<double>(procfs::ticksPerSecond());
    double age = procfs::secondsSinceBoot() - static_cast<double>(st.startTicks) / perSecond;
    double used = static_cast<double>(st.userTicks + st.systemTicks) / perSecond;
    *info = thread_basic_info{};
    info->user_time = timeFromTicks(st.userTicks);
    info->system_time = timeFromTicks(st.systemTicks);
    info->cpu_usage =
        age > 0 ? static_cast<integer_t>(std::min(1.0, used / age) * TH_USAGE_SCALE) : 0;
    info->policy = machPolicy(st.policy);
    info->run_state = runState(st.state);
    info->suspend_count = info->run_state == TH_STATE_STOPPED ? 1 : 0;
    if (info->run_state == TH_STATE_WAITING)
        info->sleep_time = static_cast<integer_t>(std::max(0.0, age - used));
    return KERN_SUCCESS;
}

kern_return_t thread_info(mach_port_t thread, policy_timeshare_info* info) {
    procfs::Stat st;
    if (kern_return_t kr = liveThread(thread, &st); kr != KERN_SUCCESS) return kr;
    if (machPolicy(st.policy) != POLICY_TIMESHARE) return KERN_INVALID_POLICY;
    integer_t priority = timesharePriority(st);
    *info = policy_timeshare_info{kTimeshareMax, priority, priority, false, 0};
    return KERN_SUCCESS;
}

kern_return_t thread_info(mach_port_t thread, policy_rr_info* info) {
    procfs::Stat st;
    if (kern_return_t kr = liveThread(thread, &st); kr != KERN_SUCCESS) return kr;
    if (machPolicy(st.policy) != POLICY_RR) return KERN_INVALID_POLICY;
    // Linux's default round-robin time slice.
    *info = policy_rr_info{kRealtimeHigh, realtimePriority(st), 100, false, 0};
    return KERN_SUCCESS;
}

kern_return_t thread_info(mach_port_t thread, policy_fifo_info* info) {
    procfs::Stat st;
    if (kern_return_t kr = liveThread(thread, &st); kr != KERN_SUCCESS) return kr;
    if (machPolicy(st.policy) != POLICY_FIFO) return KERN_INVALID_POLICY;
    *info = policy_fifo_info{kRealtimeHigh, realtimePriority(st), false, 0};
    return KERN_SUCCESS;
}

kern_return_t vm_region(mach_port_t task, std::uint64_t* address, std::uint64_t* size,
                        vm_region_basic_info* info) {
    pid_t pid;
    procfs::Stat st;
    if (address == nullptr || size == nullptr || info == nullptr) return KERN_INVALID_ARGUMENT;
    if (kern_return_t kr = liveTask(task, &pid, &st); kr != KERN_SUCCESS) return kr;
    *size = 0;
    *info = vm_region_basic_info{};
    return KERN_SUCCESS;
}

kern_return_t host_info(mach_port_t host, host_basic_info* info) {
    if (host != kHostPort) return KERN_INVALID_ARGUMENT;
    std::optional<procfs::Meminfo> memory = procfs::meminfo();
    if (!memory) return KERN_FAILURE;
    *info = host_basic_info{};
    // Each of these reads a file in /sys; the processor count is asked for
    // with every memory figure, and it does not change while we run.
    static const integer_t configured = static_cast<integer_t>(sysconf(_SC_NPROCESSORS_CONF));
    static const integer_t online = static_cast<integer_t>(sysconf(_SC_NPROCESSORS_ONLN));
    info->max_cpus = configured;
    info->avail_cpus = online;
    info->memory_size = memory->total;
    info->max_mem = info->memory_size;
    info->cpu_type = kCPUType;
    info->cpu_subtype = kCPUSubtype;
    return KERN_SUCCESS;
}

kern_return_t host_page_size(mach_port_t host, std::uint64_t* size) {
    if (host != kHostPort || size == nullptr) return KERN_INVALID_ARGUMENT;
    *size = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    return KERN_SUCCESS;
}

kern_return_t host_statistics(mach_port_t host, vm_statistics* info) {
    if (host != kHostPort || info == nullptr) return KERN_INVALID_ARGUMENT;
    std::optional<procfs::Meminfo> m = procfs::meminfo();
    if (!m) return KERN_FAILURE;
    std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    std::uint64_t used = m->free + m->active + m->inactive;
    *info = vm_statistics{};
    info->free_count = static_cast<natural_t>(m->free / page);
    info->active_count = static_cast<natural_t>(m->active / page);
    info->inactive_count = static_cast<natural_t>(m->inactive / page);
    info->wire_count = static_cast<natural_t>(m->total > used ? (m->total - used) / page : 0);
    return KERN_SUCCESS;
}

}  // namespace proc
