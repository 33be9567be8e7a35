#pragma once
// Kernel variables by name, read and set the way sysctlbyname does it.
//
// Under a sandbox root the variables live in a text file inside the root,
// kKernelVariablesFile: one "name=value" line each, '#' starts a comment,
// blank lines are ignored. Only the names the file holds exist; setting one
// rewrites the file atomically with the new value. A value that is a decimal
// integer is an integer variable, anything else a string variable.
//
// On the real machine (root "/") the network variables map to their Linux
// counterparts under /proc/sys:
//   "net.inet.tcp.sendspace"  default (middle) field of net/ipv4/tcp_wmem
//   "net.inet.tcp.recvspace"  default (middle) field of net/ipv4/tcp_rmem
//   "kern.ipc.maxsockbuf"     net/core/wmem_max (read); wmem_max and rmem_max (set)
//   "net.inet.tcp.rfc1323"    net/ipv4/tcp_window_scaling
// and every other name, "net.inet.tcp.delayed_ack" among them, fails with
// ENOENT.
//
// Three read-only facts exist in both cases and never come from the file:
//   "kern.ostype"     "Darwin"
//   "kern.osrelease"  the Darwin release of the system version the host
//                     reports ("10.8.0" for 10.6.8); ENOENT without one
//   "kern.argmax"     this machine's limit for arguments and environment

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

inline constexpr const char* kKernelVariablesFile = "/private/var/db/kvx-sysctl.conf";

// Reads the variable into oldp (when given) and sets it from newp (when
// given). *oldlenp holds the room at oldp and receives the size used; with
// oldp null it receives the size a read needs.
//   integers: read as 8 bytes when *oldlenp >= 8, else as 4 bytes (ERANGE
//             when the value does not fit); set from 4 or 8 native bytes.
//   strings:  read with their terminating NUL; never set (EPERM).
// Returns 0, or -1 with errno set: ENOENT unknown name, ENOMEM no room,
// EINVAL a new value of another size, EPERM a read-only variable, or the
// error of reading or writing the variable's file.
int sysctlbyname(const char* name, void* oldp, std::size_t* oldlenp, const void* newp,
                 std::size_t newlen);

// "major.minor.0" of the Darwin kernel that shipped with a packed system
// version (0x1068 gives "10.8.0", 0x1058 "9.8.0"); "" for 0.
std::string darwinReleaseForSystemVersion(std::int32_t packedVersion);

namespace sysctl_testing {
// The root "/" case against a folder laid out like /proc/sys, so that the
// mapping can be tested without touching the machine.
int sysctlbynameOnLinux(const std::string& procSysFolder, const char* name, void* oldp,
                        std::size_t* oldlenp, const void* newp, std::size_t newlen);
}  // namespace sysctl_testing

}  // namespace host
