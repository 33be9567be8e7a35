// System database rebuilds, run through the executor program on sandbox
// roots: the argument vectors the tools receive, and what the caller sees.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "executor_harness.h"
#include "host/testing.h"
#include "operations/DatabaseRebuilds.h"
#include "sandbox/sandbox.h"

namespace {

using host::testing::RunResult;
using host::testing::SandboxRoot;
using sandbox::JournalEntry;

constexpr const char* kDyld = "KVXAERebuildDyldSharedCacheAuthExec";
constexpr const char* kLaunchServices = "KVXAERebuildLaunchServicesDatabaseAuthExec";
constexpr const char* kLocate = "KVXAERebuildLocateDatabaseAuthExec";
constexpr const char* kWhatis = "KVXAERebuildWhatisDatabaseAuthExec";
constexpr const char* kLsregister =
    "/System/Library/Frameworks/CoreServices.framework/Frameworks/LaunchServices.framework/"
    "Support/lsregister";

class DatabaseRebuilds : public ::testing::Test {
  protected:
    void SetUp() override { sandbox::build(root); }

    RunResult run(const char* identifier, const std::vector<std::string>& keys = {}) {
        plist::Dictionary d = executor_test::request(identifier);
        for (const std::string& key : keys) d[key] = plist::Value::boolean(true);
        return executor_test::runExecutor(
            executor_test::frame(executor_test::rootAuthorizationForm(), d));
    }

    // Replaces the stand-in's script for this root only.
    void toolScript(const std::string& name, const std::string& body) {
        root.writeFile("/usr/libexec/varno-sandbox/" + name, "#!/bin/sh\n" + body, 0755);
    }

    SandboxRoot root;
};

TEST_F(DatabaseRebuilds, SharedCacheVectorFollowsTheKeys) {
    const std::vector<std::string> base = {"update_dyld_shared_cache", "-root", "/", "-debug",
                                           "-sort_by_name"};
    struct Case {
        std::vector<std::string> keys;
        std::vector<std::string> tail;
    };
    const Case cases[] = {
        {{}, {}},
        {{"ForceUpdate", "PPC", "i386", "x86_64"},
         {"-force", "-arch", "ppc", "-arch", "i386", "-arch", "x86_64"}},
        // The PowerPC key is written in capitals; the lower-case one means nothing.
        {{"ppc", "x86_64"}, {"-arch", "x86_64"}},
        {{"PPC"}, {"-arch", "ppc"}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(truncate(root.real(sandbox::kJournalPath).c_str(), 0), 0);
        RunResult r = run(kDyld, c.keys);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, "update_dyld_shared_cache: regenerating shared cache\n");
        std::vector<std::string> argv = base;
        argv.insert(argv.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(sandbox::readJournal(root), (std::vector<JournalEntry>{{0, argv}}));
    }
}

TEST_F(DatabaseRebuilds, LaunchServicesAlwaysCoversLocalAndUser) {
    const std::vector<std::string> base = {"lsregister", "-kill", "-r",      "-v",
                                           "-domain",    "local", "-domain", "user"};
    struct Case {
        std::vector<std::string> keys;
        std::vector<std::string> tail;
    };
    const Case cases[] = {
        {{}, {}},
        {{"ForceUpdate"}, {"-f"}},
        {{"ForceUpdate", "SystemDomain"}, {"-domain", "system", "-f"}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(truncate(root.real(sandbox::kJournalPath).c_str(), 0), 0);
        RunResult r = run(kLaunchServices, c.keys);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, "lsregister: database rebuilt\n");
        std::vector<std::string> argv = base;
        argv.insert(argv.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(sandbox::readJournal(root), (std::vector<JournalEntry>{{0, argv}}));
    }
}

TEST_F(DatabaseRebuilds, WhatisRunsVerboseAndTheToolsStatusIsTheExecutors) {
    RunResult r = run(kWhatis);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "makewhatis: /usr/share/man: rebuilt whatis\n");
    EXPECT_EQ(sandbox::readJournal(root), (std::vector<JournalEntry>{{0, {"makewhatis", "-v"}}}));

    toolScript("makewhatis", "echo 'makewhatis: no manual pages'\nexit 4\n");
    r = run(kWhatis);
    EXPECT_EQ(r.exitStatus, 4);
    EXPECT_EQ(r.out, "makewhatis: no manual pages\n");
}

TEST_F(DatabaseRebuilds, AMissingToolEndsWith255AndNothingWritten) {
    for (const char* tool :
         {"/usr/bin/update_dyld_shared_cache", kLsregister, "/usr/libexec/makewhatis"})
        ASSERT_EQ(unlink(root.real(tool).c_str()), 0);
    for (const char* identifier : {kDyld, kLaunchServices, kWhatis}) {
        RunResult r = run(identifier);
        EXPECT_EQ(r.exitStatus, 255) << identifier;
        EXPECT_EQ(r.out, "") << identifier;
    }
}

TEST_F(DatabaseRebuilds, LocateKeepsOnlyTheLowBitsOfTheWaitStatus) {
    // sudo runs the tool; the journal shows both, as the superuser.
    RunResult r = run(kLocate);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "");
    std::vector<JournalEntry> expected = {
        {0, {"/usr/bin/sudo", "/usr/libexec/locate.updatedb"}},
        {0, {"/usr/libexec/locate.updatedb"}},
    };
    EXPECT_EQ(sandbox::readJournal(root), expected);

    // An exit code sits above the low eight bits: any normal end gives 0.
    toolScript("locate.updatedb", "echo updating\nexit 3\n");
    r = run(kLocate);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "updating\n");

    // A tool killed by a signal gives the signal's number.
    toolScript("locate.updatedb", "kill -TERM $$\n");
    r = run(kLocate);
    EXPECT_EQ(r.exitStatus, SIGTERM);
}

TEST_F(DatabaseRebuilds, LocateRunsWithRealUserAndGroupZero) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to act as a user";
    toolScript("locate.updatedb", "echo \"$(id -ru) $(id -rg)\"\nexit 3\n");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        // As the set-user-ID executor started by an unprivileged user.
        close(fds[0]);
        if (dup2(fds[1], STDOUT_FILENO) < 0 || setresgid(65534, 65534, 65534) != 0 ||
            setresuid(65534, 0, 0) != 0)
            _exit(120);
        int status = rebuildLocateDatabase({});
        printf("status %d\n", status);
        fflush(nullptr);
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buffer[256];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, size_t(n));
    close(fds[0]);
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // The raw wait status of an exit with code 3.
    EXPECT_EQ(out, "0 0\nstatus 768\n");
}

}  // namespace
