#pragma once
// Fault injection for writers of files other programs depend on: a disk that
// is full, and a writer killed at a random moment. Both run the writer in a
// child process, so the test program itself never sees the fault.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace host::testing {

// Moves the calling process into a mount namespace of its own in which
// whatever is mounted on or below `folder` stays. Where "/" is no mount point
// (a plain chroot) it cannot be made private; the folder then becomes a
// private mount of its own. False, with the reason in *why, when refused.
bool enterPrivateMountNamespace(const std::string& folder, std::string* why);

// Why this machine gives a test no such namespace; "" when it does. Tests
// that need one skip with this reason.
const std::string& mountNamespaceRefusal();

// In a child: makes a folder a read-only mount of its own, in a private mount
// namespace. False, with the reason in *why, when that cannot be done.
bool mountReadOnly(const std::string& folder, std::string* why);

// Runs fn in a child whose mount table is private: there `folder` is a small
// tmpfs holding a copy of what the folder held, filled until only `freeBytes`
// are left. Returns fn's result, or 128 + the signal that ended the child, or
// 100 + n when the small disk could not be set up. Needs root.
int withFullDisk(const std::string& folder, std::size_t freeBytes, const std::function<int()>& fn);

struct KillReport {
    int killed = 0;                     // rounds in which the child died of the kill
    std::vector<std::string> failures;  // "round N: what check() said"
};

// `rounds` times: starts a child that calls write(0), write(1), ... until it
// is killed, kills it with SIGKILL after a random pause of up to maxPause, and
// runs check(), which returns "" when the file is as it must be, or what is
// wrong with it. The random pauses come from `seed`, so a failure repeats.
KillReport killWhileWriting(int rounds, std::chrono::microseconds maxPause,
                            const std::function<void(int)>& write,
                            const std::function<std::string()>& check, unsigned seed = 42);

// The names in a folder, sorted.
std::vector<std::string> namesIn(const std::string& folder);

}  // namespace host::testing
