#pragma once
// Shared by the authorization tests: the probe program installed where an
// unprivileged user can run it, with the trampoline set-user-ID beside it.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "host/testing.h"
#include "internal.h"

namespace authtest {

// A folder holding copies of auth_probe and (unless told otherwise) the
// trampoline, installed set-user-ID root with a sidecar naming the sandbox.
class Installation {
  public:
    explicit Installation(const host::testing::SandboxRoot& sandbox, bool setUserId = true);
    const std::string& probe() const { return probe_; }
    const std::string& trampoline() const { return trampoline_; }

  private:
    host::testing::TempDir dir_;
    std::string probe_;
    std::string trampoline_;
};

struct Caller {
    std::optional<uid_t> uid;  // nullopt: this (root) process's user
    std::vector<gid_t> groups;
};

// Runs the probe with the given arguments as the caller; standard output.
host::testing::RunResult runProbe(const Installation& installation, const Caller& caller,
                                  const std::vector<std::string>& args,
                                  const std::string& input = "");

// Creates an authorization as the caller (through the probe) and returns its
// form in hex; fails the test when that does not work.
std::string createAs(const Installation& installation, const Caller& caller);

// Makes the store the way a root process does on first use.
void prepareStore();

std::string recordPath(const host::testing::SandboxRoot& sandbox, const std::string& hex);

std::optional<gid_t> sudoGroup();

inline constexpr uid_t kNobody = 65534;

}  // namespace authtest
