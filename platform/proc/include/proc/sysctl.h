#pragma once
// The kernel's process table and process argument areas, queried by
// management information base name the way sysctl does it, answered from
// Linux's /proc. The process table is always the machine's own, whatever the
// system root.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace proc {

inline constexpr int CTL_KERN = 1;
inline constexpr int KERN_OSRELEASE = 2;   // string: see host/sysctl.h "kern.osrelease"
inline constexpr int KERN_ARGMAX = 8;      // 32-bit integer: "kern.argmax"
inline constexpr int KERN_PROC = 14;       // process table, by the selectors below
inline constexpr int KERN_PROCARGS = 38;   // argument area, older layout, by process ID
inline constexpr int KERN_PROCARGS2 = 49;  // argument area, newer layout, by process ID

// Third-level selectors of KERN_PROC; all but KERN_PROC_ALL take a fourth.
inline constexpr int KERN_PROC_ALL = 0;
inline constexpr int KERN_PROC_PID = 1;
inline constexpr int KERN_PROC_UID = 5;   // effective user
inline constexpr int KERN_PROC_RUID = 6;  // real user

// Process states of a table entry.
inline constexpr char SIDL = 1;
inline constexpr char SRUN = 2;
inline constexpr char SSLEEP = 3;
inline constexpr char SSTOP = 4;
inline constexpr char SZOMB = 5;

inline constexpr std::size_t MAXCOMLEN = 16;

// One entry of the process table. The platform's entries are 648 bytes, and
// callers size their buffers and count entries by that.
struct extern_proc {
    pid_t p_pid;
    char p_stat;                 // SRUN, SSLEEP, SSTOP or SZOMB
    char p_comm[MAXCOMLEN + 1];  // short command name, NUL-terminated
};
struct pcred {
    uid_t p_ruid;
    uid_t p_svuid;
    gid_t p_rgid;
    gid_t p_svgid;
};
struct ucred {
    uid_t cr_uid;  // effective user
    gid_t cr_gid;
};
struct eproc {
    pid_t e_ppid;
    pcred e_pcred;
    ucred e_ucred;
};
struct kinfo_proc {
    extern_proc kp_proc;
    eproc kp_eproc;
    char kp_spare[648 - sizeof(extern_proc) - sizeof(eproc)];
};
static_assert(sizeof(kinfo_proc) == 648);

// sysctl(3) for the names above; nothing can be set (newp must be null).
//   {CTL_KERN, KERN_PROC, selector[, value]}: the table entries the selector
//     picks, in ascending process ID order. With oldp null, *oldlenp gets
//     room for the table as it is plus 16 entries and one in eight more;
//     ENOMEM when the entries do not fit (the ones that fit are delivered). KERN_PROC_PID of
//     a process that does not exist succeeds with size 0.
//   {CTL_KERN, KERN_PROCARGS2, pid}: a 32-bit argument count, the executable
//     path (from /proc/PID/exe; "" when it cannot be read) and its NUL,
//     zero padding to an 8-byte boundary, then the NUL-terminated arguments
//     (cmdline) and environment strings (environ; none when unreadable).
//     KERN_PROCARGS: the same without the count. An area that does not fit
//     is cut at *oldlenp. EINVAL for a process without arguments (kernel
//     processes, zombies) or one that does not exist.
//   {CTL_KERN, KERN_OSRELEASE} and {CTL_KERN, KERN_ARGMAX}: host::sysctlbyname.
// Returns 0, or -1 with errno set.
int sysctl(const int* name, unsigned namelen, void* oldp, std::size_t* oldlenp, const void* newp,
           std::size_t newlen);

}  // namespace proc
