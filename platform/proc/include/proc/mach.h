#pragma once
// Tasks, threads, the host and its memory, the way the Mach calls report
// them, answered from Linux's /proc.
//
// Ports are names for a process (task), one of its threads, the host, or
// the calling task itself. A task port stays tied to the process it was
// made for: once that process has ended (or its ID is taken by a new one)
// every call on it fails with MACH_SEND_INVALID_DEST.
//
// What the Linux figures become:
// - Thread run states: R running; S, I (idle kernel worker) and P (parked)
//   waiting; D uninterruptible; T and t stopped; Z, X halted; anything else
//   0, which is no state.
// - Sleep time of a waiting thread: Linux keeps no cheap record of when a
//   thread last ran, so it is the thread's age less the processor time it
//   has used, in whole seconds: a thread that has slept through most of its
//   life counts as long asleep.
// - CPU usage of a thread, on the scale TH_USAGE_SCALE (one processor): the
//   processor time it has used divided by its age, as ps computes %CPU.
// - Scheduling: SCHED_OTHER and SCHED_BATCH are time-sharing with base and
//   current priority 31 - nice (0..63; Linux has no decaying priority);
//   SCHED_IDLE is time-sharing at 0; SCHED_RR and SCHED_FIFO are
//   round-robin and first-in-first-out at 97 + (rt_priority - 1) * 30 / 98
//   (97..127); SCHED_DEADLINE has no policy here (0).
// - Events: faults are minor plus major faults, page-ins the major faults,
//   context switches the voluntary plus involuntary ones; Linux counts no
//   copy-on-write faults, Mach messages or system calls per task (0).
// - Memory: virtual size and resident set from stat; the host's free,
//   active and inactive pages from /proc/meminfo, wired the rest of
//   MemTotal, so the four add up to the machine's memory. There is no shared
//   region to report: vm_region succeeds with nothing reserved.
//
// Reading /proc costs a file each time where the Mach calls are cheap, so a
// reading of a process (or the host) is used again for 500 ms: a caller's
// run of questions about one process is answered from one reading, and a
// caller that polls sees a change within 500 ms. A reading is used only
// while its process exists (checked when the last check is older than
// 2 ms), so a process that has been reaped is gone within 2 ms.
// One-thread processes (most of them) are answered from /proc/PID/stat alone:
// their thread is the process.

#include <sys/types.h>

#include <cstdint>
#include <vector>

namespace proc {

using kern_return_t = int;
using mach_port_t = std::uint32_t;
using natural_t = std::uint32_t;
using integer_t = std::int32_t;

inline constexpr kern_return_t KERN_SUCCESS = 0;
inline constexpr kern_return_t KERN_INVALID_ADDRESS = 1;
inline constexpr kern_return_t KERN_INVALID_ARGUMENT = 4;
inline constexpr kern_return_t KERN_FAILURE = 5;
inline constexpr kern_return_t KERN_INVALID_POLICY = 16;
inline constexpr kern_return_t MACH_SEND_INVALID_DEST = 0x10000003;

inline constexpr mach_port_t MACH_PORT_NULL = 0;

mach_port_t mach_task_self();
mach_port_t mach_host_self();

// A task port for the process, asked for by the caller's own task. Fails
// with KERN_FAILURE when the process does not exist (a thread ID is no
// process) or, for a caller that is not the superuser, belongs to another
// user.
kern_return_t task_for_pid(mach_port_t target, int pid, mach_port_t* task);
// Gives a task or thread port back; the name means nothing afterwards.
kern_return_t mach_port_deallocate(mach_port_t space, mach_port_t name);

struct time_value_t {
    integer_t seconds;
    integer_t microseconds;
};

inline constexpr int POLICY_NULL = 0;
inline constexpr int POLICY_TIMESHARE = 1;
inline constexpr int POLICY_RR = 2;
inline constexpr int POLICY_FIFO = 4;

struct task_basic_info {
    integer_t suspend_count;     // 1 for a stopped process
    std::uint64_t virtual_size;  // bytes
    std::uint64_t resident_size;
    time_value_t user_time;
    time_value_t system_time;
    int policy;
};

struct task_events_info {
    integer_t faults;
    integer_t pageins;
    integer_t cow_faults;
    integer_t messages_sent;
    integer_t messages_received;
    integer_t syscalls_mach;
    integer_t syscalls_unix;
    integer_t csw;
};

kern_return_t task_info(mach_port_t task, task_basic_info* info);
kern_return_t task_info(mach_port_t task, task_events_info* info);
// A new port for each thread of the task; the caller gives each back.
kern_return_t task_threads(mach_port_t task, std::vector<mach_port_t>* threads);

inline constexpr integer_t TH_STATE_RUNNING = 1;
inline constexpr integer_t TH_STATE_STOPPED = 2;
inline constexpr integer_t TH_STATE_WAITING = 3;
inline constexpr integer_t TH_STATE_UNINTERRUPTIBLE = 4;
inline constexpr integer_t TH_STATE_HALTED = 5;
inline constexpr integer_t TH_USAGE_SCALE = 1000;

struct thread_basic_info {
    time_value_t user_time;
    time_value_t system_time;
    integer_t cpu_usage;  // 0..TH_USAGE_SCALE
    int policy;
    integer_t run_state;
    integer_t flags;
    integer_t suspend_count;
    integer_t sleep_time;  // seconds
};

struct policy_timeshare_info {
    integer_t max_priority;
    integer_t base_priority;
    integer_t cur_priority;
    bool depressed;
    integer_t depress_priority;
};

struct policy_rr_info {
    integer_t max_priority;
    integer_t base_priority;
    integer_t quantum;  // milliseconds
    bool depressed;
    integer_t depress_priority;
};

struct policy_fifo_info {
    integer_t max_priority;
    integer_t base_priority;
    bool depressed;
    integer_t depress_priority;
};

kern_return_t thread_info(mach_port_t thread, thread_basic_info* info);
// The policy information of a thread that runs under that policy;
// KERN_INVALID_POLICY for a thread under another one.
kern_return_t thread_info(mach_port_t thread, policy_timeshare_info* info);
kern_return_t thread_info(mach_port_t thread, policy_rr_info* info);
kern_return_t thread_info(mach_port_t thread, policy_fifo_info* info);

struct vm_region_basic_info {
    int protection;
    int max_protection;
    int inheritance;
    bool shared;
    bool reserved;
    std::uint64_t offset;
    int behavior;
    unsigned short user_wired_count;
};

// Succeeds for a live task with the address unchanged, size 0 and nothing
// reserved: Linux maps no shared region into every process.
kern_return_t vm_region(mach_port_t task, std::uint64_t* address, std::uint64_t* size,
                        vm_region_basic_info* info);

struct host_basic_info {
    integer_t max_cpus;
    integer_t avail_cpus;
    std::uint64_t memory_size;  // bytes
    integer_t cpu_type;
    integer_t cpu_subtype;
    std::uint64_t max_mem;
};

struct vm_statistics {
    natural_t free_count;  // pages
    natural_t active_count;
    natural_t inactive_count;
    natural_t wire_count;
    natural_t zero_fill_count;  // the counters below are not kept here: 0
    natural_t reactivations;
    natural_t pageins;
    natural_t pageouts;
    natural_t faults;
    natural_t cow_faults;
    natural_t lookups;
    natural_t hits;
};

kern_return_t host_info(mach_port_t host, host_basic_info* info);
kern_return_t host_page_size(mach_port_t host, std::uint64_t* size);
kern_return_t host_statistics(mach_port_t host, vm_statistics* info);

}  // namespace proc
