#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "contract/executor.h"
#include "executor_harness.h"

using namespace executor_test;
using host::testing::RunOptions;
using host::testing::RunResult;
using host::testing::SandboxRoot;
using host::testing::TempDir;

namespace {

class ExecutorEntry : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "the executor tests run as root";
        form_ = rootAuthorizationForm();
    }
    SandboxRoot sandbox_;
    std::string form_;
};

std::string lengthBytes(std::uint64_t n) {
    return std::string(reinterpret_cast<const char*>(&n), sizeof n);
}

// What the privileged launch hands its child: the authorization's handle.
std::string referenceOf(const std::string& form) {
    std::string hex;
    for (unsigned char c : form) {
        hex += "0123456789abcdef"[c >> 4];
        hex += "0123456789abcdef"[c & 15];
    }
    return hex;
}

// The library that makes one C library call fail inside the executor.
std::string callFaultLibrary() {
    const char* library = std::getenv("VARNO_CALL_FAULT");
    if (library == nullptr) throw std::runtime_error("VARNO_CALL_FAULT is not set");
    return library;
}

// Runs with one C library call failing (EPERM) inside the executor: `call`
// is "name:N", the N-th call of that name.
RunResult runFailing(const char* call, const std::string& library, RunOptions o) {
    o.env["LD_PRELOAD"] = library;
    o.env["VARNO_FAIL_CALL"] = call;
    return host::testing::run(o);
}

}  // namespace

TEST_F(ExecutorEntry, SetuidrootRequestWritesNothingAndSucceeds) {
    RunResult r = runExecutor(frame(form_, request("KVXAESetuidrootAuthExec", true)));
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "");
}

TEST_F(ExecutorEntry, UnknownMissingOrDifferentlyCasedIdentifierEndsWith7) {
    for (const char* id : {"NoSuchOperation", "kvxaequeryprocessesauthexec", ""}) {
        RunResult r = runExecutor(frame(form_, request(id)));
        EXPECT_EQ(r.exitStatus, 7) << id;
        EXPECT_EQ(r.out, "") << id;
    }
    RunResult r = runExecutor(frame(form_, plist::Dictionary{}));
    EXPECT_EQ(r.exitStatus, 7);
}

TEST_F(ExecutorEntry, MalformedFramingEndsWithTheDocumentedStatus) {
    struct Case {
        const char* what;
        std::string input;
        int status;
        std::string outPrefix;
    } cases[] = {
        {"nothing", "", 17, "Error reading externalAuthorizationRef: "},
        {"half a form", form_.substr(0, 16), 17, "Error reading externalAuthorizationRef: "},
        {"form only", form_, 20, "Error reading sizeOfDict\n"},
        {"half a length", form_ + "\x05\x00\x00", 20, "Error reading sizeOfDict\n"},
        {"short document", form_ + lengthBytes(100) + "<dict/>", 21,
         "Error reading parametersDict: "},
        {"over the limit", form_ + lengthBytes(64ull * 1024 * 1024 + 1), 21,
         "Error reading parametersDict: File too large (27)\n"},
        {"huge length", form_ + lengthBytes(~0ull), 21, "Error reading parametersDict: "},
        {"empty document", form_ + lengthBytes(0), 22, ""},
        {"not a property list", frame(form_, std::string("hello, world")), 22, ""},
        {"not a dictionary", frame(form_, std::string("<array/>")), 22, ""},
    };
    for (const auto& c : cases) {
        RunResult r = runExecutor(c.input);
        EXPECT_EQ(r.exitStatus, c.status) << c.what;
        EXPECT_EQ(r.out.rfind(c.outPrefix, 0), 0u) << c.what << ": " << r.out;
        if (c.outPrefix.empty()) {
            EXPECT_EQ(r.out, "") << c.what;
        }
    }
}

TEST_F(ExecutorEntry, DocumentArrivingInPiecesIsReadWhole) {
    // A large request crosses several pipe reads.
    plist::Dictionary big = request("KVXAESetuidrootAuthExec");
    big["Padding"] = plist::Value(std::string(300000, 'x'));
    RunResult r = runExecutor(frame(form_, big));
    EXPECT_EQ(r.exitStatus, 0) << r.out;
}

TEST_F(ExecutorEntry, ForgedFormIsRefusedWith18) {
    std::string forged(32, '\x41');
    RunResult r = runExecutor(frame(forged, request("KVXAESetuidrootAuthExec")));
    EXPECT_EQ(r.exitStatus, 18);
    EXPECT_NE(r.out.find(" creating authorizationRef from external form\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.rfind("Error -600", 0), 0u) << r.out;
}

TEST_F(ExecutorEntry, SelfRepairStartedDirectlyEndsWith14) {
    RunResult r = runExecutor("", {"--self-repair"});
    EXPECT_EQ(r.exitStatus, 14);
    EXPECT_EQ(r.out.rfind("Error -", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" copying privelage reference\n"), std::string::npos) << r.out;
}

TEST_F(ExecutorEntry, SelfRepairWithAFurtherArgumentIsANormalInvocation) {
    RunResult r =
        runExecutor(frame(form_, request("KVXAESetuidrootAuthExec")), {"--self-repair", "extra"});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
}

TEST_F(ExecutorEntry, AuthorizationOfAnotherUserIsRefused) {
    TempDir dir;
    std::string tool = dir.path() + "/varnoTool";
    host::testing::copyFile(executorPath(), tool);
    RunOptions o;
    o.argv = {tool};
    o.uid = 65534;
    o.input = frame(form_, request("KVXAESetuidrootAuthExec"));  // root's form
    RunResult r = host::testing::run(o);
    EXPECT_EQ(r.exitStatus, 18) << r.out << r.err;
}

TEST_F(ExecutorEntry, UserWithoutTheRightIsRefusedBeforeTheRequestIsRead) {
    InstalledExecutor installed(sandbox_, 0, 04755);
    std::string form = formOfUser(65534);
    ASSERT_EQ(form.size(), 32u);
    // The form alone: a length read before the check would end with 20.
    for (const std::string& input : {form, frame(form, request("KVXAESetuidrootAuthExec"))}) {
        RunResult r = installed.runAs(65534, {}, input);
        EXPECT_EQ(r.out, "Error -60005 authorizing.") << input.size();
        EXPECT_EQ(r.exitStatus, 155) << input.size();
    }
}

TEST_F(ExecutorEntry, AdministratorRunsTheInstalledExecutorAsRoot) {
    InstalledExecutor installed(sandbox_, 0, 04755);
    std::string form = formOfUser(65534);
    RunResult r = installed.runAs(65534, {adminGroup()}, frame(form, request("NoSuchOperation")));
    EXPECT_EQ(r.exitStatus, 7) << r.out << r.err;
    r = installed.runAs(65534, {adminGroup()}, frame(form, request("KVXAESetuidrootAuthExec")));
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(ExecutorEntry, ForwarderRepairsTheExecutableThroughThePrivilegedChild) {
    // Owned by the user, set-user-ID and group-writable: the forwarder drops
    // the bit, the child makes the file root's with the bit and no group or
    // other write.
    InstalledExecutor installed(sandbox_, 65534, 04775);
    std::string form = formOfUser(65534);
    RunResult r = installed.runAs(65534, {adminGroup()}, frame(form, request("NoSuchOperation")));
    EXPECT_EQ(r.exitStatus, 7) << r.out << r.err;
    struct stat st = installed.status();
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 04755u);

    // From now on the same user reaches the root executor directly.
    r = installed.runAs(65534, {adminGroup()}, frame(form, request("KVXAESetuidrootAuthExec")));
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
}

// Anyone may read the executable, so anyone could lock it; the repair's
// own lock is one only root can take.
TEST_F(ExecutorEntry, AnotherUsersLockOnTheExecutableDoesNotStopTheRepair) {
    InstalledExecutor installed(sandbox_, 0, 0755);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = fork();
    if (holder == 0) {
        int fd = -1;
        if (setgid(65533) == 0 && setuid(65533) == 0) fd = open(installed.tool.c_str(), O_RDONLY);
        char ok = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    close(ready[0]);
    std::string form = formOfUser(65534);
    RunResult r = installed.runAs(65534, {adminGroup()}, frame(form, request("NoSuchOperation")));
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    ASSERT_EQ(ok, 'y');
    EXPECT_EQ(r.exitStatus, 7) << r.out << r.err;
    EXPECT_EQ(installed.status().st_mode & 07777, 04755u);
}

// The set-user-ID bit goes before the privileged launch is tried, so it is
// gone even when the launch fails.
TEST_F(ExecutorEntry, ForwarderWithoutTheRightCannotLaunchTheChild) {
    InstalledExecutor installed(sandbox_, 65534, 04775);
    std::string form = formOfUser(65534);
    RunResult r = installed.runAs(65534, {}, frame(form, request("KVXAESetuidrootAuthExec")));
    EXPECT_EQ(r.exitStatus, 13) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("Error -", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" in AuthorizationExecuteWithPrivileges\n"
                         "Error waiting for self-repair child process\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(installed.status().st_uid, 65534u);
    EXPECT_EQ(installed.status().st_mode & 07777, 0775u);
}

TEST_F(ExecutorEntry, SelfRepairKeepsOwnerAndGroupOfAFileRootAlreadyOwns) {
    InstalledExecutor installed(sandbox_, 0, 0775);
    ASSERT_EQ(chown(installed.tool.c_str(), 0, 65534), 0);
    std::string form = formOfUser(65534);
    RunResult r = installed.runAs(65534, {adminGroup()}, frame(form, request("NoSuchOperation")));
    EXPECT_EQ(r.exitStatus, 7) << r.out << r.err;
    struct stat st = installed.status();
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 04755u);
}

// The self-repair child (started directly here, with the handle a privileged
// launch would give it) ends at a call it cannot do without, and says which
// on standard error; the file is never left set-user-ID.
TEST_F(ExecutorEntry, SelfRepairChildEndsAtAFailedCall) {
    if (host::testing::kAddressSanitizer)
        GTEST_SKIP() << "a preloaded library cannot come before the sanitizer's runtime";
    struct Case {
        const char* call;
        uid_t owner;
        int status;
        const char* message;
    } cases[] = {
        // The first unsetenv is the authorization library's own.
        {"close_range:1", 0, contract::kStatusNotSanitized,
         "Error closing inherited descriptors: "},
        {"clearenv:1", 0, contract::kStatusNotSanitized, "Error clearing the environment: "},
        {"setenv:1", 0, contract::kStatusNotSanitized, "Error setting PATH: "},
        {"unsetenv:2", 0, contract::kStatusNotSanitized,
         "Error removing KVX_AUTHORIZATION_REFERENCE: "},
        {"fchown:1", 65534, contract::kStatusSelfNotRepaired, "Error changing the owner of "},
        {"fchmod:1", 0, contract::kStatusSelfNotRepaired, "Error changing the mode of "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        InstalledExecutor installed(sandbox_, c.owner, 0755);
        RunOptions o;
        o.argv = {installed.tool, "--self-repair"};
        o.env[auth::kPrivilegedReferenceVariable] = referenceOf(form_);
        o.input = frame("", request("NoSuchOperation"));
        RunResult r = runFailing(c.call, callFaultLibrary(), o);
        EXPECT_EQ(r.exitStatus, c.status) << r.out << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
        EXPECT_NE(r.err.find("Operation not permitted (1)\n"), std::string::npos) << r.err;
        EXPECT_EQ(installed.status().st_mode & 07777, 0755u);
    }
}

// Dropping the bit is the forwarder's precaution, and it fails for good
// reason where the volume ignores set-user-ID bits and root owns the file:
// the forwarder says so and goes on. Here the bit stays its user's, so the
// child cannot become root and says that too.
TEST_F(ExecutorEntry, ForwarderThatCannotDropTheSetUserIdBitSaysSoAndGoesOn) {
    if (host::testing::kAddressSanitizer)
        GTEST_SKIP() << "a preloaded library cannot come before the sanitizer's runtime";
    InstalledExecutor installed(sandbox_, 65534, 04775);
    const std::string library = installed.dir.path() + "/call_fault.so";
    host::testing::copyFile(callFaultLibrary(), library);
    ASSERT_EQ(chmod(library.c_str(), 0755), 0);
    RunOptions o;
    o.argv = {installed.tool};
    o.uid = 65534;
    o.groups = {adminGroup()};
    o.input = frame(formOfUser(65534), request("NoSuchOperation"));
    RunResult r = runFailing("fchmod:1", library, o);
    EXPECT_EQ(r.err.rfind("Error dropping the set-user-ID bit of ", 0), 0u) << r.err;
    EXPECT_EQ(r.exitStatus, contract::kStatusNoPrivilegedReference) << r.out << r.err;
    EXPECT_NE(r.out.find(" copying privelage reference\n"), std::string::npos) << r.out;
}
