#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "host/root.h"
#include "host/testing.h"

using namespace host::testing;

TEST(SystemRoot, MapsMachinePathsIntoTheSandbox) {
    SandboxRoot sandbox;
    EXPECT_EQ(host::systemRoot(), sandbox.path());
    EXPECT_TRUE(host::isSandboxed());
    EXPECT_EQ(host::realPath("/Library/Caches"), sandbox.path() + "/Library/Caches");
    EXPECT_EQ(host::realPath("relative/x"), sandbox.path() + "/relative/x");
    EXPECT_EQ(host::machinePath(sandbox.path() + "/Users/ann"), "/Users/ann");
    EXPECT_EQ(host::machinePath(sandbox.path()), "/");
    // A sibling folder that merely shares the prefix is not inside the root.
    EXPECT_EQ(host::machinePath(sandbox.path() + "x/y"), sandbox.path() + "x/y");
}

TEST(SystemRoot, TrailingSlashesAreIgnored) {
    SandboxRoot sandbox;
    setenv("VARNO_SYSTEM_ROOT", (sandbox.path() + "//").c_str(), 1);
    EXPECT_EQ(host::realPath("/etc"), sandbox.path() + "/etc");
}

TEST(SystemRootDeathTest, RefusesTheRealRootInTests) {
    unsetenv("VARNO_SYSTEM_ROOT");
    EXPECT_EXIT(host::systemRoot(), testing::ExitedWithCode(70), "refusing to run");
    setenv("VARNO_SYSTEM_ROOT", "/", 1);
    EXPECT_EXIT(host::realPath("/etc"), testing::ExitedWithCode(70), "refusing to run");
    unsetenv("VARNO_SYSTEM_ROOT");
}

namespace {
std::string rootSeenBy(const std::string& program, const std::string& root,
                       std::optional<uid_t> uid) {
    RunOptions o;
    o.argv = {program};
    o.env = {{"VARNO_SYSTEM_ROOT", root}};
    o.unsetEnv = {"VARNO_REQUIRE_SANDBOX"};
    o.uid = uid;
    RunResult r = run(o);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return r.out;
}
}  // namespace

TEST(SystemRoot, SetUserIdProcessIgnoresTheEnvironment) {
    if (!runningAsRoot()) GTEST_SKIP() << "needs root to install a set-user-ID program";
    TempDir dir;
    SandboxRoot sandbox;
    std::string program = dir.path() + "/print_root";
    copyFile(std::getenv("HOST_PRINT_ROOT"), program);
    ASSERT_EQ(chown(program.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(program.c_str(), 04755), 0);

    // Without privileges gained from the bit, the variable is honoured.
    EXPECT_EQ(rootSeenBy(program, sandbox.path(), std::nullopt), sandbox.path() + "\n");
    // Set-user-ID from another user: the caller's variable is ignored.
    EXPECT_EQ(rootSeenBy(program, sandbox.path(), 65534), "/\n");

    // A root-owned sidecar beside the executable is trusted...
    std::string sidecar = dir.path() + "/system-root";
    sandbox.writeFile("/unused", "");
    {
        FILE* f = fopen(sidecar.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fprintf(f, "%s\n", sandbox.path().c_str());
        fclose(f);
    }
    chmod(sidecar.c_str(), 0644);
    EXPECT_EQ(rootSeenBy(program, "/elsewhere", 65534), sandbox.path() + "\n");
    // ...but not once anyone else may write it.
    chmod(sidecar.c_str(), 0666);
    EXPECT_EQ(rootSeenBy(program, "/elsewhere", 65534), "/\n");
    chmod(sidecar.c_str(), 0644);
    ASSERT_EQ(chown(sidecar.c_str(), 65534, 65534), 0);
    EXPECT_EQ(rootSeenBy(program, "/elsewhere", 65534), "/\n");
}

TEST(SystemRoot, OwnBundleOutsideTheRootIsUsedWhereItIs) {
    TempDir dir;
    SandboxRoot sandbox;
    std::string macos = dir.path() + "/Varno.app/Contents/MacOS";
    std::filesystem::create_directories(macos);
    copyFile(std::getenv("HOST_PRINT_ROOT"), macos + "/tool");
    std::string resource = dir.path() + "/Varno.app/Contents/Resources/Codes.plist";
    RunOptions o;
    o.argv = {macos + "/tool", resource};
    RunResult r = run(o);
    EXPECT_EQ(r.out, sandbox.path() + "\n" + resource + "\n");
    // Everything else is still found under the root.
    o.argv = {macos + "/tool", "/Library/Caches"};
    r = run(o);
    EXPECT_EQ(r.out, sandbox.path() + "\n" + sandbox.path() + "/Library/Caches\n");
}
