#include "support.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace authtest {

using namespace host::testing;

namespace {
// The built programs, named by ctest.
std::string built(const char* variable) {
    const char* path = std::getenv(variable);
    if (path == nullptr)
        throw std::runtime_error(std::string(variable) + " is not set (run through ctest)");
    return path;
}
}  // namespace

Installation::Installation(const SandboxRoot& sandbox, bool setUserId)
    : probe_(dir_.path() + "/auth_probe"),
      trampoline_(dir_.path() + "/" + auth::detail::kTrampolineName) {
    copyFile(built("AUTH_PROBE"), probe_);
    copyFile(built("AUTH_TRAMPOLINE"), trampoline_);
    EXPECT_EQ(chown(trampoline_.c_str(), 0, 0), 0);
    EXPECT_EQ(chmod(trampoline_.c_str(), setUserId ? 04755 : 0755), 0);
    FILE* sidecar = fopen((dir_.path() + "/system-root").c_str(), "w");
    EXPECT_NE(sidecar, nullptr);
    if (sidecar != nullptr) {
        fprintf(sidecar, "%s\n", sandbox.path().c_str());
        fclose(sidecar);
    }
}

RunResult runProbe(const Installation& installation, const Caller& caller,
                   const std::vector<std::string>& args, const std::string& input) {
    RunOptions o;
    o.argv = {installation.probe()};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    o.input = input;
    o.uid = caller.uid;
    o.groups = caller.groups;
    return run(o);
}

std::string createAs(const Installation& installation, const Caller& caller) {
    RunResult r = runProbe(installation, caller, {"create"});
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(r.out.size(), 65u) << r.out;
    return r.out.substr(0, 64);
}

void prepareStore() {
    auth::AuthorizationRef ref;
    ASSERT_EQ(auth::AuthorizationCreate(nullptr, 0, &ref), 0);
    ASSERT_EQ(auth::AuthorizationFree(std::move(ref), auth::kAuthorizationFlagDestroyRights), 0);
}

std::string recordPath(const SandboxRoot& sandbox, const std::string& hex) {
    return sandbox.real(std::string(auth::detail::kStorePath) + "/" + hex);
}

std::optional<gid_t> sudoGroup() {
    struct group* g = getgrnam("sudo");
    if (g == nullptr) return std::nullopt;
    return g->gr_gid;
}

}  // namespace authtest
