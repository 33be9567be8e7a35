// Swap volume relocation: the executor program on sandbox roots, and the
// operation called in this process where a failure has to be injected.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Dispatch.h"
#include "Utilities.h"
#include "executor_harness.h"
#include "host/faults.h"
#include "host/testing.h"
#include "operations/Swap.h"
#include "sandbox/sandbox.h"

namespace {

using executor_test::captureStdout;
using host::testing::RunResult;
using host::testing::SandboxRoot;

constexpr const char* kIdentifier = "KVXAESetSwapVolumeAuthExec";
constexpr const char* kTool = "/sbin/kvx_dynamic_pager_start";
constexpr const char* kStartDaemon =
    "/System/Library/LaunchDaemons/com.kvxlabs.dynamic_pager_start.plist";
constexpr const char* kPagerDaemon = "/System/Library/LaunchDaemons/com.apple.dynamic_pager.plist";
constexpr const char* kDisabledFolder = "/System/Library/LaunchDaemons/disabled";
constexpr const char* kDisabledPagerDaemon =
    "/System/Library/LaunchDaemons/disabled/com.apple.dynamic_pager.plist";

const std::string kInstalling =
    "\tInstalling /sbin/kvx_dynamic_pager_start...\n"
    "\tInstalling /System/Library/LaunchDaemons/com.kvxlabs.dynamic_pager_start.plist...\n";
const std::string kDisabling =
    "\tDisabling /System/Library/LaunchDaemons/com.apple.dynamic_pager.plist...\n";
const std::string kRemovingOld =
    "\tRemoving old /sbin/kvx_dynamic_pager_start...\n"
    "\tRemoving /sbin/kvx_dynamic_pager_start\n";
const std::string kReEnabling = "\tRe-enabling com.apple.dynamic_pager.plist...\n";
const std::string kRemovingBoth =
    "\tRemoving /System/Library/LaunchDaemons/com.kvxlabs.dynamic_pager_start.plist\n"
    "\tRemoving /sbin/kvx_dynamic_pager_start\n";
const std::string kNoDefault =
    "\t***Error: no default launch daemon found! Creating a new one...\n";

// A launch daemon as the system expects it: exactly these keys.
plist::Dictionary launchDaemon(const char* label, plist::Array arguments) {
    return {{"EnableTransactions", plist::Value::boolean(true)},
            {"HopefullyExitsLast", plist::Value::boolean(true)},
            {"OnDemand", plist::Value::boolean(false)},
            {"Label", plist::Value(label)},
            {"ProgramArguments", plist::Value(std::move(arguments))}};
}

plist::Dictionary startDaemonFor(const std::string& mountPoint) {
    return launchDaemon("com.kvxlabs.dynamic_pager_start",
                        {"/sbin/kvx_dynamic_pager_start", mountPoint, "/.vm"});
}

const plist::Dictionary kPagerDaemonContent = launchDaemon(
    "com.apple.dynamic_pager", {"/sbin/dynamic_pager", "-F", "/private/var/vm/swapfile"});

// The dictionary of a property-list file; an empty one when it is not there.
plist::Dictionary daemonAt(const SandboxRoot& root, const std::string& machinePath) {
    std::optional<plist::Value> value = plist::parse(root.readFile(machinePath).value_or(""));
    const plist::Dictionary* d = value ? value->asDictionary() : nullptr;
    return d != nullptr ? *d : plist::Dictionary();
}

plist::Dictionary swapRequest(const std::string& mountPoint, bool debug = false) {
    plist::Dictionary d = executor_test::request(kIdentifier, debug);
    d["MountPoint"] = plist::Value(mountPoint);
    return d;
}

std::string builtTool() {
    std::ifstream file(host::testing::bundlePath("Contents/Resources/kvx_dynamic_pager_start"),
                       std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

class SwapVolume : public ::testing::Test {
  protected:
    void SetUp() override { sandbox::build(root); }

    RunResult run(const plist::Dictionary& request) {
        return executor_test::runExecutor(
            executor_test::frame(executor_test::rootAuthorizationForm(), request));
    }

    std::string snapshotOf(const std::string& machinePath) {
        sandbox::TreeSnapshot tree = sandbox::snapshotTree(root);
        auto it = tree.find(machinePath);
        return it == tree.end() ? "absent" : it->second;
    }

    SandboxRoot root;
};

TEST_F(SwapVolume, RelocationThenRevertReturnsTheTreeToItsStart) {
    sandbox::TreeSnapshot before = sandbox::snapshotTree(root);

    RunResult r = run(swapRequest("/Volumes/Data"));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, kInstalling + kDisabling);
    EXPECT_EQ(root.readFile(kTool), builtTool());
    EXPECT_EQ(daemonAt(root, kStartDaemon), startDaemonFor("/Volumes/Data"));
    EXPECT_EQ(daemonAt(root, kDisabledPagerDaemon), kPagerDaemonContent);
    EXPECT_FALSE(root.exists(kPagerDaemon));
    sandbox::TreeSnapshot relocated = sandbox::snapshotTree(root);
    EXPECT_EQ(relocated[kTool].substr(0, 13), "file 555 0:0 ");
    EXPECT_EQ(relocated[kDisabledFolder], "folder 755 0:0");
    EXPECT_EQ(relocated[kStartDaemon].substr(0, 13), "file 644 0:0 ");

    r = run(swapRequest("/"));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, kReEnabling + kRemovingBoth);
    // Everything is as it was, but for the folder of disabled daemons, which stays.
    sandbox::TreeSnapshot after = sandbox::snapshotTree(root);
    EXPECT_EQ(after.erase(kDisabledFolder), 1u);
    EXPECT_EQ(after, before);
}

TEST_F(SwapVolume, RelocatingAgainReplacesToolAndDaemonAndOnlyAnnouncesTheDisabling) {
    ASSERT_EQ(run(swapRequest("/Volumes/Data")).exitStatus, 0);
    RunResult r = run(swapRequest("/Volumes/Backup 2"));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, kRemovingOld + kInstalling + kDisabling);
    EXPECT_EQ(root.readFile(kTool), builtTool());
    EXPECT_EQ(daemonAt(root, kStartDaemon), startDaemonFor("/Volumes/Backup 2"));
    EXPECT_EQ(daemonAt(root, kDisabledPagerDaemon), kPagerDaemonContent);
    EXPECT_FALSE(root.exists(kPagerDaemon));
}

TEST_F(SwapVolume, DebugModeKeepsTheOldToolButCopiesOverItAndStillRemovesOnRevert) {
    root.writeFile(kTool, "an old tool", 0700);
    RunResult r = run(swapRequest("/Volumes/Data", true));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out,
              "\tRemoving old /sbin/kvx_dynamic_pager_start...\n"
              "\tDEBUG: Removing /sbin/kvx_dynamic_pager_start\n" +
                  kInstalling + kDisabling);
    EXPECT_EQ(root.readFile(kTool), builtTool());
    EXPECT_EQ(snapshotOf(kTool).substr(0, 13), "file 555 0:0 ");

    r = run(swapRequest("/", true));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, kReEnabling + kRemovingBoth);
    EXPECT_FALSE(root.exists(kTool));
    EXPECT_FALSE(root.exists(kStartDaemon));
    EXPECT_TRUE(root.exists(kPagerDaemon));
}

TEST_F(SwapVolume, RevertWithNothingRelocatedDoesNothing) {
    sandbox::TreeSnapshot before = sandbox::snapshotTree(root);
    RunResult r = run(swapRequest("/"));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(sandbox::snapshotTree(root), before);
}

TEST_F(SwapVolume, RevertWithoutAnyPagerDaemonWritesTheReplacement) {
    host::testing::removeTree(root.real(kPagerDaemon));
    RunResult r = run(swapRequest("/"));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, kNoDefault);
    EXPECT_EQ(daemonAt(root, kPagerDaemon), kPagerDaemonContent);
}

TEST_F(SwapVolume, RevertWhenBothPagerDaemonsExistReportsTheMoveAndCleansUp) {
    ASSERT_EQ(run(swapRequest("/Volumes/Data")).exitStatus, 0);
    root.writeFile(kPagerDaemon, "a pager daemon put back by hand");
    RunResult r = run(swapRequest("/"));
    EXPECT_EQ(r.exitStatus, 256 - 48) << r.err;  // dupFNErr
    EXPECT_EQ(r.out, kReEnabling +
                         "\t***Error -48 in FSPathMoveObjectSync() re-enabling default launch "
                         "daemon. Aborting.\n" +
                         kRemovingBoth);
    EXPECT_EQ(root.readFile(kPagerDaemon), "a pager daemon put back by hand");
    EXPECT_EQ(daemonAt(root, kDisabledPagerDaemon), kPagerDaemonContent);
    EXPECT_FALSE(root.exists(kTool));
    EXPECT_FALSE(root.exists(kStartDaemon));
}

TEST_F(SwapVolume, ARequestWithoutAUsableMountPointChangesNothing) {
    const std::string kError =
        "\t***Error: the request names no swap volume (\"MountPoint\" must be the absolute path "
        "of a mount point). Aborting.\n";
    std::vector<plist::Dictionary> requests;
    requests.push_back(executor_test::request(kIdentifier));
    plist::Dictionary notAString = executor_test::request(kIdentifier);
    notAString["MountPoint"] = plist::Value(plist::Array{"/Volumes/Data"});
    requests.push_back(notAString);
    requests.push_back(swapRequest(""));
    requests.push_back(swapRequest("Volumes/Data"));
    sandbox::TreeSnapshot before = sandbox::snapshotTree(root);
    for (const plist::Dictionary& request : requests) {
        RunResult r = run(request);
        EXPECT_EQ(r.exitStatus, kSwapBadRequestStatus) << r.err;
        EXPECT_EQ(r.out, kError);
    }
    EXPECT_EQ(sandbox::snapshotTree(root), before);
}

TEST_F(SwapVolume, ALaunchDaemonThatCannotBeWrittenStopsWith19) {
    root.writeFile(std::string(kStartDaemon) + "/in the way", "");
    RunResult r = run(swapRequest("/Volumes/Data"));
    EXPECT_EQ(r.exitStatus, 19) << r.err;
    EXPECT_EQ(r.out, kInstalling +
                         "\t*** Error opening write stream in writeDictionaryToPath.\n"
                         "\t***Error creating new launch daemon. Aborting.\n");
    // The tool is installed but not registered; the system pager still runs.
    EXPECT_EQ(root.readFile(kTool), builtTool());
    EXPECT_TRUE(root.exists(kPagerDaemon));
}

TEST_F(SwapVolume, ASystemPagerDaemonThatCannotBeSetAsideStopsWith20) {
    // A disabled copy left from before: the move never replaces it.
    root.writeFile(kDisabledPagerDaemon, "older copy");
    RunResult r = run(swapRequest("/Volumes/Data"));
    EXPECT_EQ(r.exitStatus, 20) << r.err;
    EXPECT_EQ(r.out, kInstalling + kDisabling +
                         "\t***Error disabling deafult launch daemon: File exists (17).\nYou may "
                         "want to check that there aren't two dynamic_pager processes after a "
                         "system restart.\n");
    EXPECT_EQ(daemonAt(root, kStartDaemon), startDaemonFor("/Volumes/Data"));
    EXPECT_EQ(root.readFile(kDisabledPagerDaemon), "older copy");
    EXPECT_TRUE(root.exists(kPagerDaemon));
}

// The operation in this process: the tool resource is then looked for beside
// the test program, under the sandbox root.

struct Outcome {
    int status = -1;
    std::string out;
};

Outcome runHere(const plist::Dictionary& request) {
    Outcome o;
    o.out = captureStdout([&] { o.status = callExecutionFunction(request); });
    return o;
}

class SwapVolumeHere : public SwapVolume {
  protected:
    void SetUp() override {
        SwapVolume::SetUp();
        // Unbuffered, as the executor has it, so that printf and the
        // utilities' direct writes keep their order.
        fflush(stdout);
        setvbuf(stdout, nullptr, _IONBF, 0);
        saved = swap_seams::systemCalls;
        // This process has no bundle: its resources are a folder of the root's.
        root.mkdirs("/Resources");
        utilities_seams::resourcesFolder = root.real("/Resources");
    }
    void TearDown() override {
        swap_seams::systemCalls = saved;
        utilities_seams::resourcesFolder.clear();
    }

    void provideTool() const {
        root.writeFile("/Resources/kvx_dynamic_pager_start", "#!/bin/sh\n", 0755);
    }

    swap_seams::SystemCalls saved{};
};

TEST_F(SwapVolumeHere, AMissingToolResourceStopsWith16) {
    Outcome o = runHere(swapRequest("/Volumes/Data"));
    EXPECT_EQ(o.status, 16);
    EXPECT_EQ(o.out,
              "\tInstalling /sbin/kvx_dynamic_pager_start...\n"
              "\t***Error copying wait tool: No such file or directory (2). Aborting.\n");
    EXPECT_FALSE(root.exists(kTool));
    EXPECT_TRUE(root.exists(kPagerDaemon));
}

TEST_F(SwapVolumeHere, OwnerAndModeFailuresStopWith17And18) {
    provideTool();
    swap_seams::systemCalls.fchown = [](int, uid_t, gid_t) {
        errno = EPERM;
        return -1;
    };
    Outcome o = runHere(swapRequest("/Volumes/Data"));
    EXPECT_EQ(o.status, 17);
    EXPECT_EQ(o.out,
              "\tInstalling /sbin/kvx_dynamic_pager_start...\n"
              "\t***Error setting uid/gid on wait tool: Operation not permitted (1). "
              "Aborting.\n");

    swap_seams::systemCalls = saved;
    swap_seams::systemCalls.fchmod = [](int, mode_t) {
        errno = EIO;
        return -1;
    };
    o = runHere(swapRequest("/Volumes/Data"));
    EXPECT_EQ(o.status, 18);
    EXPECT_EQ(o.out, kRemovingOld +
                         "\tInstalling /sbin/kvx_dynamic_pager_start...\n"
                         "\t***Error setting permissions on wait tool: Input/output error (5). "
                         "Aborting.\n");
    EXPECT_FALSE(root.exists(kStartDaemon));
    EXPECT_TRUE(root.exists(kPagerDaemon));
}

TEST_F(SwapVolumeHere, AFolderForDisabledDaemonsThatCannotBeMadeIsReportedThenTheMoveFails) {
    provideTool();
    swap_seams::systemCalls.mkdirat = [](int, const char*, mode_t) {
        errno = EACCES;
        return -1;
    };
    Outcome o = runHere(swapRequest("/Volumes/Data"));
    EXPECT_EQ(o.status, 20);
    EXPECT_EQ(o.out, kInstalling + kDisabling +
                         "\t***Error creating disabled launch daemons directory: Permission "
                         "denied (13)\n"
                         "\t***Error setting uid/gid on disabled launch daemons directory: No "
                         "such file or directory (2)\n"
                         "\t***Error disabling deafult launch daemon: No such file or directory "
                         "(2).\nYou may want to check that there aren't two dynamic_pager "
                         "processes after a system restart.\n");
    EXPECT_TRUE(root.exists(kPagerDaemon));
}

// Runs the operation in a child in which one folder of the sandbox is
// mounted read-only. Returns false when that could not be set up.
bool runWithReadOnlyFolder(const SandboxRoot& root, const std::string& machineFolder,
                           const plist::Dictionary& request, Outcome* outcome) {
    const std::string tool = pathForResourceNamed("kvx_dynamic_pager_start");
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        close(fds[0]);
        std::string why;
        if (!host::testing::mountReadOnly(root.real(machineFolder), &why)) {
            fprintf(stderr, "%s\n", why.c_str());
            _exit(77);
        }
        // Where "/" is a mount of a chroot's folder, the test program's own
        // path reads from the machine's root once in a namespace of its own:
        // the tool must lie beside that path too.
        const std::string here = pathForResourceNamed("kvx_dynamic_pager_start");
        if (here != tool && root.exists(tool)) root.writeFile(here, *root.readFile(tool), 0755);
        Outcome o = runHere(request);
        bool ok = write(fds[1], &o.status, sizeof o.status) == sizeof o.status &&
                  write(fds[1], o.out.data(), o.out.size()) == static_cast<ssize_t>(o.out.size());
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    std::string bytes;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) bytes.append(buffer, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 77) return false;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    if (bytes.size() < sizeof outcome->status) return false;
    memcpy(&outcome->status, bytes.data(), sizeof outcome->status);
    outcome->out = bytes.substr(sizeof outcome->status);
    return true;
}

TEST_F(SwapVolumeHere, AReadOnlySbinStopsWith16) {
    if (const std::string& why = host::testing::mountNamespaceRefusal(); !why.empty())
        GTEST_SKIP() << why;
    provideTool();
    Outcome o;
    ASSERT_TRUE(runWithReadOnlyFolder(root, "/sbin", swapRequest("/Volumes/Data"), &o));
    EXPECT_EQ(o.status, 16);
    EXPECT_EQ(o.out,
              "\tInstalling /sbin/kvx_dynamic_pager_start...\n"
              "\t***Error copying wait tool: Read-only file system (30). Aborting.\n");
    EXPECT_TRUE(root.exists(kPagerDaemon));
}

TEST_F(SwapVolumeHere, ARevertThatCannotPutAPagerDaemonBackStopsWith15) {
    if (const std::string& why = host::testing::mountNamespaceRefusal(); !why.empty())
        GTEST_SKIP() << why;
    provideTool();
    ASSERT_EQ(runHere(swapRequest("/Volumes/Data")).status, 0);
    Outcome o;
    ASSERT_TRUE(runWithReadOnlyFolder(root, "/System/Library/LaunchDaemons", swapRequest("/"), &o));
    EXPECT_EQ(o.status, 15);
    EXPECT_EQ(o.out, kReEnabling +
                         "\t***Error -44 in FSPathMoveObjectSync() re-enabling default launch "
                         "daemon. Aborting.\n" +
                         kNoDefault +
                         "\t*** Error opening write stream in writeDictionaryToPath.\n"
                         "\t***************** Error recreating default launch daemon. "
                         "*****************\n***************** This is a bad thing. "
                         "*****************\n");
    // It stopped there: the tool and its daemon are still in place.
    EXPECT_TRUE(root.exists(kTool));
    EXPECT_TRUE(root.exists(kStartDaemon));
}

}  // namespace
