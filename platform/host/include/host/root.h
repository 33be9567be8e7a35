#pragma once
// The system root: every machine path ("/Library/Caches", "/usr/sbin/diskutil")
// is found under it. Tests and the demo point it at a sandbox folder; on a real
// machine it is "/".

#include <string>
#include <string_view>

namespace host {

// The folder that stands for the machine's "/". Taken from VARNO_SYSTEM_ROOT,
// read with secure_getenv so that a process that got privileges from a
// set-user-ID bit never takes it from its caller. Such a process accepts only
// a root-owned "system-root" file beside its own executable (how tests install
// set-user-ID copies into a sandbox); otherwise it is "/".
//
// When VARNO_REQUIRE_SANDBOX is set (every test sets it) and no sandbox root
// is given, the process refuses to go on rather than touch the real machine.
std::string systemRoot();

// True when the system root is a sandbox folder rather than "/".
bool isSandboxed();

// Maps a machine path to the path to use in system calls. Relative paths are
// taken as relative to the machine's "/" under a sandbox root.
std::string realPath(std::string_view machinePath);

// The inverse of realPath for paths inside the root; other paths unchanged.
std::string machinePath(std::string_view realPath);

}  // namespace host
