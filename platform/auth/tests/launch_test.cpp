// Privileged launch: through the set-user-ID trampoline for a user, directly
// for root. The tool runs as root with an environment built for it, talks
// over the stream, and is the caller's own child.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "support.h"

using namespace auth;
using namespace authtest;
using host::testing::RunOptions;
using host::testing::SandboxRoot;

namespace {

std::string lines(const std::string& out, const std::string& prefix) {
    std::string found;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(pos, end - pos);
        if (line.rfind(prefix, 0) == 0) found += line + "\n";
        pos = end + 1;
    }
    return found;
}

class LaunchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to install the trampoline";
        if (!sudoGroup()) GTEST_SKIP() << "no group named sudo here";
        admin = {kNobody, {*sudoGroup()}};
        prepareStore();
    }

    std::string expectedEnvironment(const std::string& hex) {
        struct passwd* pw = getpwuid(0);
        std::string name = pw != nullptr ? pw->pw_name : "root";
        return "env HOME=" + std::string(pw != nullptr ? pw->pw_dir : "/") + "\n" + "env " +
               kPrivilegedReferenceVariable + "=" + hex + "\n" + "env LOGNAME=" + name + "\n" +
               "env PATH=/usr/bin:/bin:/usr/sbin:/sbin\n" + "env USER=" + name + "\n" +
               "env VARNO_REQUIRE_SANDBOX=1\n" + "env VARNO_SYSTEM_ROOT=" + sandbox.path() + "\n";
    }

    SandboxRoot sandbox;
    Installation inst{sandbox};
    Caller admin;
};

TEST_F(LaunchTest, UserLaunchRunsTheToolAsRootOverTheStream) {
    std::string hex = createAs(inst, admin);
    auto r =
        runProbe(inst, admin, {"exec", hex, inst.probe(), "tool", "42"}, "through the stream\n");
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "exec 0\n") << r.err;
    EXPECT_EQ(lines(r.out, "uid="), "uid=0 euid=0 gid=0 egid=0 groups=0\n");
    EXPECT_EQ(lines(r.out, "env "), expectedEnvironment(hex));
    EXPECT_EQ(lines(r.out, "privref="), "privref=0\n");
    // Input went in through the stream, the echo came back through it, and
    // the caller's wait() saw the tool's own status.
    EXPECT_EQ(lines(r.out, "through"), "through the stream\n");
    EXPECT_EQ(lines(r.out, "exit "), "exit 42\n");
}

TEST_F(LaunchTest, TrampolineBuildsTheEnvironmentAndStateItself) {
    std::string hex = createAs(inst, admin);
    RunOptions o;
    o.argv = {inst.trampoline(), inst.probe(), "tool", "5"};
    o.inheritEnv = false;
    o.env = {{kPrivilegedReferenceVariable, hex},
             {"VARNO_SYSTEM_ROOT", "/elsewhere"},
             {"VARNO_REQUIRE_SANDBOX", "yes"},
             {"PATH", "/tmp/evil:/usr/bin"},
             {"IFS", "/"},
             {"HOME", "/tmp/evil"},
             {"LD_PRELOAD", "/tmp/evil.so"},
             {"LANG", "/tmp/evil"},
             {"KVX_SECRET", "1"}};
    o.input = "abc\n";
    o.uid = admin.uid;
    o.groups = admin.groups;
    mode_t previous = umask(0);
    auto r = host::testing::run(o);
    umask(previous);
    EXPECT_EQ(r.exitStatus, 5) << r.out << r.err;
    EXPECT_EQ(lines(r.out, "env "), expectedEnvironment(hex));
    EXPECT_EQ(lines(r.out, "umask="), "umask=022\n");
    EXPECT_EQ(lines(r.out, "uid="), "uid=0 euid=0 gid=0 egid=0 groups=0\n");
    EXPECT_EQ(lines(r.out, "abc"), "abc\n");
}

TEST_F(LaunchTest, TrampolineRefusesWhatItCannotVouchFor) {
    std::string own = createAs(inst, admin);
    std::string expired = createAs(inst, admin);
    std::ofstream(recordPath(sandbox, expired)) << "1\n";
    std::string nobodys = createAs(inst, {kNobody - 1, {}});
    std::string roots = createAs(inst, {});
    struct Case {
        const char* what;
        std::string form;
        Caller caller;
        std::string tool;
        OSStatus expected;
    } cases[] = {
        {"forged form", std::string(64, '7'), admin, inst.probe(), errAuthorizationInvalidRef},
        {"another user's form", nobodys, admin, inst.probe(), errAuthorizationInvalidRef},
        {"root's form", roots, admin, inst.probe(), errAuthorizationInvalidRef},
        {"expired form", expired, admin, inst.probe(), errAuthorizationInvalidRef},
        {"no right",
         createAs(inst, {kNobody, {}}),
         {kNobody, {}},
         inst.probe(),
         errAuthorizationDenied},
        {"missing tool", own, admin, "/nonexistent/tool", errAuthorizationToolExecuteFailure},
    };
    for (const Case& c : cases) {
        // exec-raw skips the caller's own check: the trampoline must refuse.
        auto r = runProbe(inst, c.caller, {"exec-raw", c.form, c.tool, "tool"});
        EXPECT_EQ(r.out, "exec " + std::to_string(c.expected) + "\n") << c.what << r.err;
    }
    auto r = runProbe(inst, admin, {"exec", own, inst.probe(), "tool"});
    EXPECT_EQ(lines(r.out, "uid="), "uid=0 euid=0 gid=0 egid=0 groups=0\n") << r.err;
}

TEST_F(LaunchTest, WithoutAProperlyInstalledTrampolineNothingRuns) {
    std::string hex = createAs(inst, admin);
    struct Case {
        const char* what;
        std::function<void(const std::string& trampoline)> spoil;
        OSStatus expected;
    } cases[] = {
        // Without its sidecar it would serve the real root, which a caller
        // that requires a sandbox refuses.
        {"no sidecar",
         [](auto& t) {
             ASSERT_EQ(unlink((t.substr(0, t.rfind('/')) + "/system-root").c_str()), 0);
         },
         errAuthorizationInternal},
        {"not set-user-ID", [](auto& t) { ASSERT_EQ(chmod(t.c_str(), 0755), 0); },
         errAuthorizationInternal},
        {"something that ends without a word",
         [](auto& t) { host::testing::copyFile("/bin/true", t); },
         errAuthorizationToolEnvironmentError},
        {"missing", [](auto& t) { ASSERT_EQ(unlink(t.c_str()), 0); },
         errAuthorizationToolExecuteFailure},
    };
    for (const Case& c : cases) {
        Installation spoilt(sandbox);
        c.spoil(spoilt.trampoline());
        auto r = runProbe(spoilt, admin, {"exec", hex, spoilt.probe(), "tool"});
        EXPECT_EQ(r.out, "exec " + std::to_string(c.expected) + "\n") << c.what << r.err;
    }
}

TEST_F(LaunchTest, RootStartsTheToolDirectly) {
    AuthorizationRef ref;
    ASSERT_EQ(AuthorizationCreate(nullptr, 0, &ref), 0);
    FILE* stream = nullptr;
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(*ref, "relative/tool", 0, {}, &stream),
              errAuthorizationToolExecuteFailure);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(*ref, inst.probe(), 1, {}, &stream),
              errAuthorizationInvalidFlags);
    ASSERT_EQ(AuthorizationExecuteWithPrivileges(*ref, inst.probe(), 0, {"tool", "3"}, &stream), 0);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(write(fileno(stream), "ping\n", 5), 5);
    ASSERT_EQ(shutdown(fileno(stream), SHUT_WR), 0);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fileno(stream), buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    fclose(stream);
    int status = 0;
    ASSERT_GT(wait(&status), 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
    EXPECT_EQ(lines(out, "privref="), "privref=0\n") << out;
    EXPECT_EQ(lines(out, "ping"), "ping\n");
    EXPECT_NE(out.find("env VARNO_SYSTEM_ROOT=" + sandbox.path() + "\n"), std::string::npos);

    // A destroyed authorization launches nothing.
    AuthorizationExternalForm form;
    ASSERT_EQ(AuthorizationMakeExternalForm(*ref, &form), 0);
    Authorization stale(form.bytes);
    ASSERT_EQ(AuthorizationFree(std::move(ref), kAuthorizationFlagDestroyRights), 0);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(stale, inst.probe(), 0, {"tool"}, &stream),
              errAuthorizationInvalidRef);
    EXPECT_EQ(stream, nullptr);
}

}  // namespace
