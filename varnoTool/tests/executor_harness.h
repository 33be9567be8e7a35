#pragma once
// Runs the built executor as a program: frames a request, starts it in the
// current sandbox root, and hands back what it wrote and how it ended.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "auth/authorization.h"
#include "host/testing.h"
#include "plist/plist.h"

namespace executor_test {

std::string executorPath();

// The 32-byte form of a fresh authorization created by this (root) process
// in the current sandbox.
std::string rootAuthorizationForm();

// 32-byte form + native 8-byte length + document.
std::string frame(const std::string& form, const std::string& document);
std::string frame(const std::string& form, const plist::Dictionary& request);

plist::Dictionary request(const std::string& identifier, bool debug = false);

// Runs the executor in the current sandbox as root with the given input.
host::testing::RunResult runExecutor(const std::string& input,
                                     const std::vector<std::string>& extraArgs = {});

// Every identifier the dispatcher knows, in its table order.
const std::vector<std::string>& operationIdentifiers();

// An unprivileged user's own authorization form, created by that user with
// the program named by VARNO_AUTH_FORM.
std::string formOfUser(uid_t uid);

// The group whose members hold the administrator right.
gid_t adminGroup();

// A folder laid out as an installed bundle's MacOS folder: the executor, the
// set-user-ID trampoline beside it, and the root-owned file that tells
// privileged processes which sandbox is their system root.
struct InstalledExecutor {
    host::testing::TempDir dir;
    std::string tool = dir.path() + "/varnoTool";

    InstalledExecutor(const host::testing::SandboxRoot& sandbox, uid_t owner, mode_t mode);
    host::testing::RunResult runAs(uid_t uid, std::vector<gid_t> groups,
                                   const std::string& input) const;
    struct stat status() const;
};

// Everything written to standard output while fn runs, in this process.
template <typename F>
std::string captureStdout(F&& fn);
std::string captureStdoutImpl(void (*fn)(void*), void* context);

template <typename F>
std::string captureStdout(F&& fn) {
    return captureStdoutImpl([](void* c) { (*static_cast<F*>(c))(); }, &fn);
}

}  // namespace executor_test
