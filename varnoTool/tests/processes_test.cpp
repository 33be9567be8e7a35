// Process inspection: the argument-area parsing on areas made by hand, the
// process records on real children, and the process query run through the
// executor program.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "Protocol.h"
#include "UtilitiesProcesses.h"
#include "executor_harness.h"
#include "operations/KVXProcess.h"
#include "operations/Processes.h"
#include "proc/children.h"

namespace {

using host::testing::SandboxRoot;
using proc_testing::Child;
using Strings = std::vector<std::string>;

constexpr const char* kIdentifier = "KVXAEQueryProcessesAuthExec";
constexpr const char* kCFMLauncher =
    "/System/Library/Frameworks/Carbon.framework/Versions/A/Support/LaunchCFMApp";

void writeSystemVersion(const SandboxRoot& root, const std::string& version) {
    root.writeFile("/System/Library/CoreServices/SystemVersion.plist",
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                   "\t<key>ProductVersion</key>\n\t<string>" +
                       version + "</string>\n</dict>\n</plist>\n");
}

// An argument area as the kernel lays it out: the count (when given), the
// executable path and padding, then the strings, each terminated.
std::string area(std::optional<std::int32_t> count, const std::string& path,
                 const Strings& strings) {
    std::string out;
    if (count) out.append(reinterpret_cast<const char*>(&*count), sizeof *count);
    out += path;
    out.append(8 - out.size() % 8, '\0');
    for (const std::string& s : strings) out += s + '\0';
    return out;
}

std::string realChildProgram() {
    char real[4096];
    EXPECT_NE(realpath(proc_testing::childProgram().c_str(), real), nullptr);
    return real;
}

// --- The argument area ----------------------------------------------------

TEST(ArgumentArea, CommandPathAndArgumentsWithoutEnvironment) {
    struct Case {
        const char* what;
        std::string data;
        bool newer;
        std::string command;
        Strings arguments;
    } cases[] = {
        {"plain",
         area(3, "/usr/bin/tool", {"/usr/bin/tool", "-a", "-b", "A=1"}),
         true,
         "tool",
         {"-a", "-b"}},
        {"x=y last, count known",
         area(3, "/usr/bin/tool", {"tool", "-a", "x=y", "A=1"}),
         true,
         "tool",
         {"-a", "x=y"}},
        {"x=y last, no count",
         area({}, "/usr/bin/tool", {"tool", "-a", "x=y", "A=1"}),
         false,
         "tool",
         {"-a"}},
        {"no count keeps the first string",
         area({}, "/usr/bin/tool", {"tool", "x=y", "A=1"}),
         false,
         "tool",
         {"x=y"}},
        {"launched through LaunchCFMApp",
         area(3, kCFMLauncher,
              {kCFMLauncher, "/Applications/Foo.app/Contents/MacOS/Foo", "-psn_0_1",
               "HOME=/Users/ann"}),
         true,
         "Foo",
         {"-psn_0_1"}},
        {"\"_=\" stays in the list and goes with the environment",
         area(2, "/bin/tool", {"/bin/tool", "-v", "PATH=/bin", "_=/bin/tool"}),
         true,
         "tool",
         {"-v"}},
        {"empty and non-UTF-8 strings are skipped",
         area(4, "/bin/tool", {"/bin/tool", "", "caf\xe9", "-v", "A=1", "", "B=2"}),
         true,
         "tool",
         {"-v"}},
        {"zero count", area(0, "/bin/tool", {"tool", "-v", "A=1"}), true, "tool", {"-v"}},
        {"negative count", area(-5, "/bin/tool", {"tool", "A=1", "B=2"}), true, "tool", {}},
        {"cut-off last string is dropped",
         area(3, "/bin/tool", {"tool", "-a", "-b"}) + "PARTI",
         true,
         "tool",
         {"-a", "-b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KVXProcessArgumentArea parsed = KVXProcessParseArgumentArea(c.data, c.newer);
        EXPECT_TRUE(parsed.stringsFollow);
        EXPECT_EQ(parsed.command, c.command);
        EXPECT_EQ(parsed.arguments, c.arguments);
    }
    EXPECT_EQ(KVXProcessParseArgumentArea(area(1, "/usr/bin/tool", {"tool"}), true).launchPath,
              "/usr/bin/tool");
}

TEST(ArgumentArea, NothingAfterThePathLeavesTheCommandToTheKernel) {
    for (const std::string& data : {area(0, "/usr/bin/tool", {}), std::string("\x01\0", 2)}) {
        KVXProcessArgumentArea parsed = KVXProcessParseArgumentArea(data, true);
        EXPECT_FALSE(parsed.stringsFollow);
        EXPECT_FALSE(parsed.command);
        EXPECT_TRUE(parsed.arguments.empty());
    }
}

// --- Records of real processes --------------------------------------------

class Records : public ::testing::Test {
  protected:
    void SetUp() override { writeSystemVersion(root, "10.6.8"); }
    SandboxRoot root;
};

TEST_F(Records, KernelFactsSetTheLayoutAndBufferSize) {
    SandboxRoot bare;
    majorKernelVersion = 42;
    EXPECT_EQ(MachStatsInit(), 5);
    EXPECT_EQ(majorKernelVersion, 42);

    struct Case {
        const char* version;
        int major, minor;
        std::uint32_t textSegment, buffer;
    } cases[] = {
        {"10.6.8", 10, 8, 0x90000000, static_cast<std::uint32_t>(sysconf(_SC_ARG_MAX))},
        {"10.2.8", 6, 8, 0x90000000, 8192},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        writeSystemVersion(bare, c.version);
        EXPECT_EQ(MachStatsInit(), 0);
        EXPECT_EQ(majorKernelVersion, c.major);
        EXPECT_EQ(minorKernelVersion, c.minor);
        EXPECT_EQ(updateKernelVersion, 0);
        EXPECT_EQ(sharedTextSegment, c.textSegment);
        EXPECT_EQ(sharedTextRegionSize + sharedDataRegionSize, 0x20000000u);
        EXPECT_EQ(argumentBufferSize, c.buffer);
    }
}

TEST_F(Records, StatesOfRealChildren) {
    Child sleeping, stopped, zombie, vanished, busy({.mode = "busy"});
    stopped.stop();
    zombie.makeZombie();
    pid_t gone = vanished.pid();
    vanished.finish();
    usleep(5 * 1000);  // past the platform's 2 ms liveness window

    struct Case {
        const char* what;
        pid_t pid;
        int state;
    } cases[] = {
        {"sleeping", sleeping.pid(), KVXProcessStateSleeping},
        {"stopped", stopped.pid(), KVXProcessStateStopped},
        {"zombie", zombie.pid(), KVXProcessStateZombie},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        KVXProcessRef record = KVXProcessCreate(c.pid);
        ASSERT_TRUE(record);
        EXPECT_EQ(KVXProcessGetState(*record), c.state);
    }
    EXPECT_EQ(KVXProcessCreate(gone), nullptr);
    // A busy process is running whenever it is looked at, or waiting its turn.
    KVXProcessRef running = KVXProcessCreate(busy.pid());
    ASSERT_TRUE(running);
    EXPECT_EQ(KVXProcessGetState(*running), KVXProcessStateRunning);

    KVXProcessRelease(&running);
    EXPECT_EQ(running, nullptr);
    KVXProcessRelease(&running);
    KVXProcessRelease(nullptr);
}

TEST_F(Records, KernelThreadIsIdleWithItsShortNameAndNoArguments) {
    KVXProcessRef kthreadd = KVXProcessCreate(2);
    if (!kthreadd || KVXProcessGetCommand(*kthreadd) != "kthreadd")
        GTEST_SKIP() << "no kernel threads in this process namespace";
    EXPECT_EQ(KVXProcessGetLaunchPath(*kthreadd), "");
    EXPECT_TRUE(KVXProcessGetArguments(*kthreadd).empty());
    // Asleep almost since the machine started: more than 20 seconds.
    EXPECT_EQ(KVXProcessGetState(*kthreadd), KVXProcessStateIdle);
}

TEST_F(Records, OlderLayoutTakesATrailingAssignmentForEnvironment) {
    writeSystemVersion(root, "10.3.9");
    Child child({.argv = {"/usr/bin/tool", "-a", "x=y"}, .env = {"A=1"}});
    KVXProcessRef record = KVXProcessCreate(child.pid());
    ASSERT_TRUE(record);
    EXPECT_EQ(majorKernelVersion, 7);
    EXPECT_EQ(KVXProcessGetCommand(*record), "tool");
    EXPECT_EQ(KVXProcessGetArguments(*record), Strings{"-a"});
}

TEST_F(Records, WithoutATaskPortEveryTaskFigureIsUnavailable) {
    Child child;
    KVXProcess record;
    record.processIdentifier = child.pid();
    EXPECT_EQ(KVXProcessGetState(record), KVXProcessStateUnknown);
    EXPECT_EQ(KVXProcessGetThreadCount(record), kKVXProcessUnavailable);
    EXPECT_EQ(KVXProcessGetPercentCPUUsage(record), kKVXProcessUnavailableReal);
    EXPECT_EQ(KVXProcessGetPercentMemoryUsage(record), kKVXProcessUnavailableReal);
    EXPECT_EQ(KVXProcessGetVirtualMemorySize(record), kKVXProcessUnavailable);
    EXPECT_EQ(KVXProcessGetPriority(record), kKVXProcessUnavailable);
    EXPECT_EQ(KVXProcessGetFaults(record), kKVXProcessUnavailable);
    // The kernel's tables still answer.
    EXPECT_EQ(KVXProcessGetUserIdentifier(record), geteuid());
    EXPECT_EQ(KVXProcessGetRealUserIdentifier(record), getuid());
}

TEST_F(Records, PriorityFollowsNiceness) {
    Child child;
    ASSERT_EQ(setpriority(PRIO_PROCESS, child.pid(), 4), 0);
    KVXProcessRef record = KVXProcessCreate(child.pid());
    ASSERT_TRUE(record);
    EXPECT_EQ(KVXProcessGetPriority(*record), 27u);
    EXPECT_EQ(KVXProcessGetBasePriority(*record), 27u);
}

TEST(ProcessList, WholeTableInOneBuffer) {
    proc::kinfo_proc* list = nullptr;
    std::size_t count = 0;
    ASSERT_EQ(getBSDProcessList(&list, &count), 0);
    ASSERT_NE(list, nullptr);
    bool foundSelf = false;
    for (std::size_t i = 0; i < count; ++i) foundSelf |= list[i].kp_proc.p_pid == getpid();
    EXPECT_TRUE(foundSelf);
    free(list);
}

TEST(ProcessListDeathTest, BrokenPreconditionsStopTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    proc::kinfo_proc* list = nullptr;
    proc::kinfo_proc entry{};
    proc::kinfo_proc* taken = &entry;
    std::size_t count = 0;
    EXPECT_DEATH(getBSDProcessList(nullptr, &count),
                 "Assertion failed: \\(procList != NULL\\), function getBSDProcessList, file "
                 ".*varnoTool/Utilities");
    EXPECT_DEATH(getBSDProcessList(&taken, &count), "\\*procList == NULL");
    EXPECT_DEATH(getBSDProcessList(&list, nullptr), "procCount != NULL");
}

// --- The query, through the executor program -------------------------------

struct QueryRun {
    pid_t pid = -1;
    int status = -1;
    std::string out;
};

// Runs the executor in the current sandbox root, keeping its process ID.
QueryRun runQuery(const plist::Dictionary& request) {
    std::string input = executor_test::frame(executor_test::rootAuthorizationForm(), request);
    std::string program = executor_test::executorPath();
    int in[2], out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    QueryRun run;
    run.pid = fork();
    if (run.pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close_range(3, ~0U, 0);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(in[1]);
    char buffer[65536];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) run.out.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(run.pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// The record's dictionaries by process ID.
std::map<std::int64_t, plist::Dictionary> entries(const std::string& out) {
    std::map<std::int64_t, plist::Dictionary> byPID;
    std::optional<plist::Value> record = plist::parse(out);
    EXPECT_TRUE(record) << out.substr(0, 200);
    if (!record) return byPID;
    EXPECT_EQ(*record->find("KVXAEDictionaryIdentifierAuthExecOutputIdentifier"),
              plist::Value(kIdentifier));
    const plist::Value* list = record->find("KVXAEQueryProcessesAuthExecDictionaryOutputKey");
    EXPECT_TRUE(list && list->asArray());
    if (!list || !list->asArray()) return byPID;
    for (const plist::Value& entry : *list->asArray())
        byPID[*entry.find("PID")->asInteger()] = *entry.asDictionary();
    return byPID;
}

Strings strings(const plist::Value& array) {
    Strings out;
    for (const plist::Value& v : *array.asArray()) out.push_back(*v.asString());
    return out;
}

class Query : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "the executor tests run as root";
        writeSystemVersion(root, "10.6.8");
    }
    SandboxRoot root;
};

TEST_F(Query, DescribesEveryProcessButTheExecutor) {
    Child tool({.argv = {"/usr/bin/tool", "-a", "x=y"}, .env = {"A=1", "B=2"}});
    Child cfm({.argv = {kCFMLauncher, "/Applications/Foo.app/Contents/MacOS/Foo", "-psn_0_1"}});
    Child threads({.argv = {"threads"}, .mode = "threads"});
    Child busy({.argv = {"busy"}, .mode = "busy"});
    setpriority(PRIO_PROCESS, busy.pid(), -20);  // ahead of whatever else runs here
    usleep(1000 * 1000);

    double busyBefore = proc_testing::processorShare(busy.pid());
    QueryRun run = runQuery(executor_test::request(kIdentifier));
    double busyAfter = proc_testing::processorShare(busy.pid());
    ASSERT_EQ(run.status, 0);
    // The record is all the query writes.
    ASSERT_EQ(run.out.rfind("<?xml", 0), 0u);
    std::map<std::int64_t, plist::Dictionary> byPID = entries(run.out);
    EXPECT_EQ(byPID.count(run.pid), 0u);
    ASSERT_EQ(byPID.count(getpid()), 1u) << byPID.size() << " processes listed";

    const plist::Dictionary& t = byPID[tool.pid()];
    EXPECT_EQ(t.at("Command"), plist::Value("tool"));
    EXPECT_EQ(t.at("LaunchPath"), plist::Value(realChildProgram()));
    EXPECT_EQ(strings(t.at("Arguments")), (Strings{"-a", "x=y"}));
    EXPECT_EQ(t.at("ThreadCount"), plist::Value::integer(1));
    EXPECT_EQ(t.at("EffectiveUser"), plist::Value::integer(geteuid()));
    EXPECT_EQ(t.at("Priority"), plist::Value::integer(31));
    EXPECT_GT(*t.at("VMSize").asInteger(), *t.at("ResidentMemorySize").asInteger());
    EXPECT_GT(*t.at("ResidentMemorySize").asInteger(), 0);
    EXPECT_GT(*t.at("Faults").asInteger(), 0);
    EXPECT_GE(*t.at("Pageins").asInteger(), 0);
    double memory = *t.at("PercentMemory").asReal();
    EXPECT_GT(memory, 0.0);
    EXPECT_LT(memory, 0.5);
    EXPECT_TRUE(t.at("PercentCPU").isReal());
    EXPECT_EQ(t.size(), 13u);

    EXPECT_EQ(byPID[cfm.pid()].at("Command"), plist::Value("Foo"));
    EXPECT_EQ(strings(byPID[cfm.pid()].at("Arguments")), Strings{"-psn_0_1"});
    EXPECT_EQ(byPID[threads.pid()].at("ThreadCount"), plist::Value::integer(4));
    // The share the busy child really had, on the scale of one processor; a
    // machine that leaves it a processor sees more than half of one.
    // Readings taken just before and after bracket it, give or take what a
    // loaded machine (a sanitizer build, builds and tests side by side) does
    // to a few clock ticks of a young process: seen off by up to 0.04 there.
    double busyShare = *byPID[busy.pid()].at("PercentCPU").asReal();
    EXPECT_GE(busyShare, std::min(busyBefore, busyAfter) - 0.2);
    EXPECT_LE(busyShare, std::max(busyBefore, busyAfter) + 0.2);
    if (busyBefore > 0.55) {
        EXPECT_GT(busyShare, 0.5);
    }
    EXPECT_LE(busyShare, 1.0);

    if (byPID.count(2) && byPID[2].at("Command") == plist::Value("kthreadd")) {
        EXPECT_EQ(byPID[2].at("LaunchPath"), plist::Value(""));
        EXPECT_TRUE(byPID[2].at("Arguments").asArray()->empty());
    }
}

TEST_F(Query, ProcessesItMayNotInspectAppearWithUnavailableFigures) {
    Child child;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    if (pid == 0) {
        // As a user who may look at nobody else's tasks.
        gid_t none = 65534;
        if (setgroups(1, &none) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
        dup2(out[1], 1);
        close(out[0]);
        queryProcesses(plist::Dictionary{});
        _exit(0);
    }
    close(out[1]);
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::map<std::int64_t, plist::Dictionary> byPID = entries(text);
    ASSERT_EQ(byPID.count(child.pid()), 1u);
    const plist::Dictionary& e = byPID[child.pid()];
    EXPECT_EQ(e.at("Command"), plist::Value("proc_test_child"));
    EXPECT_EQ(e.at("LaunchPath"), plist::Value(""));
    EXPECT_TRUE(e.at("Arguments").asArray()->empty());
    EXPECT_EQ(e.at("EffectiveUser"), plist::Value::integer(0));
    for (const char* key :
         {"ThreadCount", "VMSize", "ResidentMemorySize", "Priority", "Faults", "Pageins"})
        EXPECT_EQ(e.at(key), plist::Value::integer(-1)) << key;
    EXPECT_EQ(e.at("PercentCPU"), plist::Value::real(-1.0));
    EXPECT_EQ(e.at("PercentMemory"), plist::Value::real(-1.0));
}

}  // namespace
