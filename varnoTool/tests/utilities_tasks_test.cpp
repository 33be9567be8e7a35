#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Utilities.h"
#include "host/testing.h"
#include "utilities_support.h"

namespace {

using host::testing::SandboxRoot;
using utilities_test::captureOutput;

TEST(Tasks, CapturesOutputUpToTheLimit) {
    SandboxRoot root;
    root.writeFile("/usr/bin/big", "#!/bin/sh\nhead -c 2097152 /dev/zero | tr '\\0' a\n", 0755);
    std::optional<std::string> out;
    EXPECT_EQ(executeAndWaitForTask("/usr/bin/big", {"big"}, &out), 0);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->size(), 1048575u);
    EXPECT_EQ(out->find_first_not_of('a'), std::string::npos);
}

TEST(Tasks, ArgumentsExitStatusAndFailures) {
    SandboxRoot root;
    root.writeFile("/usr/bin/echoargs", "#!/bin/sh\necho \"$0|$1|$2\"\nexit 3\n", 0755);
    root.writeFile("/usr/bin/notutf8", "#!/bin/sh\nprintf 'caf\\303'\n", 0755);
    std::optional<std::string> out;
    int status = 0;
    // The tool is found under the system root; argv[0] is passed as given.
    EXPECT_EQ(executeAndWaitForTask("/usr/bin/echoargs", {"/usr/bin/echoargs", "a b", "-1"}, &out,
                                    &status),
              0);
    EXPECT_EQ(out, root.real("/usr/bin/echoargs") + "|a b|-1\n");
    EXPECT_EQ(status, 3);
    EXPECT_EQ(executeAndWaitForTask("/usr/bin/missing", {"missing"}, &out, &status), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(status, kTaskExecFailedStatus);
    EXPECT_EQ(executeAndWaitForTask("/usr/bin/notutf8", {"notutf8"}, &out, &status), 0);
    EXPECT_EQ(out, std::nullopt);
    EXPECT_EQ(executeAndWaitForTask(nullptr, {"x"}, &out), -1);
    EXPECT_EQ(executeAndWaitForTask("/usr/bin/echoargs", {}, &out), -1);
}

TEST(Tasks, RunsAsTheGivenUserOnly) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to change users";
    SandboxRoot root;
    root.writeFile("/usr/bin/who", "#!/bin/sh\nid -u; id -g; id -G\n", 0755);
    std::optional<std::string> out;
    EXPECT_EQ(executeAndWaitForTaskWithUserID("/usr/bin/who", {"who"}, &out, 65534), 0);
    EXPECT_EQ(out, "65534\n65534\n65534\n");
    EXPECT_EQ(executeAndWaitForTaskWithUserID("/usr/bin/who", {"who"}, &out, 0), 0);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->substr(0, 4), "0\n0\n");
}

TEST(Tasks, ToolGetsNoOtherDescriptors) {
    SandboxRoot root;
    root.writeFile("/bin/fds", "#!/bin/sh\nexec ls /proc/self/fd\n", 0755);
    int leaked = open("/dev/null", O_RDONLY);  // no close-on-exec
    ASSERT_GE(leaked, 0);
    ASSERT_EQ(dup2(leaked, 50), 50);
    std::optional<std::string> out;
    EXPECT_EQ(executeAndWaitForTask("/bin/fds", {"fds"}, &out), 0);
    close(50);
    close(leaked);
    ASSERT_TRUE(out.has_value());
    // 0, 1, 2 and the descriptor ls reads the folder with.
    EXPECT_EQ(*out, "0\n1\n2\n3\n");
}

int failingSetresuid(uid_t, uid_t, uid_t) {
    errno = EPERM;
    return -1;
}

// A tool that cannot be made to run as the user must not run at all (it
// would otherwise run with the executor's privileges).
TEST(Tasks, ToolDoesNotRunWhenTheUserCannotBeTaken) {
    SandboxRoot root;
    root.writeFile("/usr/bin/mark", "#!/bin/sh\necho ran\ntouch \"$1\"\n", 0755);
    const std::string marker = root.real("/marker");
    std::optional<std::string> out;
    int status = 0;

    auto saved = utilities_seams::privilegeCalls;
    utilities_seams::privilegeCalls.setresuid = failingSetresuid;
    EXPECT_EQ(
        executeAndWaitForTaskWithUserID("/usr/bin/mark", {"mark", marker}, &out, getuid(), &status),
        0);
    utilities_seams::privilegeCalls = saved;
    EXPECT_EQ(out, "");
    EXPECT_EQ(status, kTaskDropFailedStatus);
    EXPECT_FALSE(root.exists("/marker"));

    if (!host::testing::runningAsRoot()) return;
    // Without the seam: an unprivileged executor cannot become root.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
        std::optional<std::string> childOut;
        int childStatus = 0;
        executeAndWaitForTaskWithUserID("/usr/bin/mark", {"mark", marker}, &childOut, 0,
                                        &childStatus);
        _exit(childStatus == kTaskDropFailedStatus && childOut == "" ? 0 : 11);
    }
    int wstatus = 0;
    ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
    EXPECT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 0);
    EXPECT_FALSE(root.exists("/marker"));
}

TEST(Tasks, ForkToTaskReplacesTheProcess) {
    SandboxRoot root;
    root.writeFile("/usr/sbin/tool", "#!/bin/sh\necho \"replaced $1\"\nexit 4\n", 0755);
    EXPECT_EXIT(
        {
            forkToTask("/usr/sbin/tool", {"tool", "x"});
            _exit(99);
        },
        ::testing::ExitedWithCode(4), "");
    EXPECT_EQ(forkToTask("/usr/sbin/none", {"none"}), -1);
}

TEST(PrintLinesIndented, DropsEmptyLinesAndCutsLongOnes) {
    struct Case {
        std::optional<std::string> text, prefix;
        std::string expected;
    } cases[] = {
        {"one\n\ntwo\n", "atsutil: ", "\tatsutil: one\n\tatsutil: two\n"},
        {"one\ntwo", std::nullopt, "\tone\n\ttwo"},
        {"\n\n", "p", ""},
        {std::nullopt, "p", ""},
        {std::string(3000, 'x') + "\nend", std::nullopt, "\t" + std::string(2045, 'x') + "\n\tend"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(captureOutput([&] { printLinesIndented(c.text, c.prefix); }), c.expected);
}

}  // namespace
