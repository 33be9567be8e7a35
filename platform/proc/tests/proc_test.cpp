// The process table, argument areas and task calls, checked against real
// child processes in known states.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/testing.h"
#include "proc/children.h"
#include "proc/mach.h"
#include "proc/sysctl.h"

namespace {

using namespace proc;
using proc_testing::Child;

// Figures of one process are read again only after 500 ms...
void afterCacheWindow() {
    usleep(550 * 1000);
}
// ...and its existence is checked again after 2 ms.
void afterLivenessWindow() {
    usleep(5 * 1000);
}

std::optional<kinfo_proc> entryOf(pid_t pid) {
    int name[] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
    kinfo_proc entry{};
    size_t size = sizeof entry;
    EXPECT_EQ(sysctl(name, 4, &entry, &size, nullptr, 0), 0);
    if (size == 0) return std::nullopt;
    EXPECT_EQ(size, sizeof entry);
    return entry;
}

std::vector<kinfo_proc> table(int selector, int value = 0) {
    int name[] = {CTL_KERN, KERN_PROC, selector, value};
    unsigned length = selector == KERN_PROC_ALL ? 3 : 4;
    size_t size = 0;
    EXPECT_EQ(sysctl(name, length, nullptr, &size, nullptr, 0), 0);
    std::vector<kinfo_proc> entries(size / sizeof(kinfo_proc));
    EXPECT_EQ(sysctl(name, length, entries.data(), &size, nullptr, 0), 0);
    entries.resize(size / sizeof(kinfo_proc));
    return entries;
}

std::optional<std::string> area(int which, pid_t pid, size_t room = 1 << 20) {
    int name[] = {CTL_KERN, which, pid};
    std::string buffer(room, '\xff');
    size_t size = room;
    if (sysctl(name, 3, buffer.data(), &size, nullptr, 0) != 0) return std::nullopt;
    buffer.resize(size);
    return buffer;
}

std::string realChildProgram() {
    char real[4096];
    EXPECT_NE(realpath(proc_testing::childProgram().c_str(), real), nullptr);
    return real;
}

mach_port_t taskFor(pid_t pid) {
    mach_port_t task = MACH_PORT_NULL;
    EXPECT_EQ(task_for_pid(mach_task_self(), pid, &task), KERN_SUCCESS);
    return task;
}

// Run states of every thread of the task.
std::vector<integer_t> runStates(mach_port_t task) {
    std::vector<mach_port_t> threads;
    EXPECT_EQ(task_threads(task, &threads), KERN_SUCCESS);
    std::vector<integer_t> states;
    for (mach_port_t thread : threads) {
        thread_basic_info info{};
        EXPECT_EQ(thread_info(thread, &info), KERN_SUCCESS);
        states.push_back(info.run_state);
        EXPECT_EQ(mach_port_deallocate(mach_task_self(), thread), KERN_SUCCESS);
    }
    return states;
}

bool kernelThreadsVisible() {
    std::ifstream in("/proc/2/stat");
    std::string line;
    return std::getline(in, line) && line.find("(kthreadd)") != std::string::npos;
}

TEST(ProcessTable, EntriesFollowTheProcessThroughItsStates) {
    Child child;
    std::optional<kinfo_proc> entry = entryOf(child.pid());
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->kp_proc.p_pid, child.pid());
    EXPECT_STREQ(entry->kp_proc.p_comm, "proc_test_child");
    EXPECT_EQ(entry->kp_proc.p_stat, SSLEEP);
    EXPECT_EQ(entry->kp_eproc.e_ppid, getpid());
    EXPECT_EQ(entry->kp_eproc.e_ucred.cr_uid, geteuid());
    EXPECT_EQ(entry->kp_eproc.e_pcred.p_ruid, getuid());

    child.stop();
    afterCacheWindow();
    EXPECT_EQ(entryOf(child.pid())->kp_proc.p_stat, SSTOP);
    child.makeZombie();
    afterCacheWindow();
    EXPECT_EQ(entryOf(child.pid())->kp_proc.p_stat, SZOMB);
    child.finish();
    afterLivenessWindow();
    EXPECT_FALSE(entryOf(child.pid()));
}

TEST(ProcessTable, ThreadsAreNoProcesses) {
    Child child({.mode = "threads"});
    mach_port_t task = taskFor(child.pid());
    std::vector<mach_port_t> threads;
    ASSERT_EQ(task_threads(task, &threads), KERN_SUCCESS);
    EXPECT_EQ(threads.size(), 4u);
    pid_t other = 0;
    for (const auto& e :
         std::filesystem::directory_iterator("/proc/" + std::to_string(child.pid()) + "/task"))
        if (e.path().filename() != std::to_string(child.pid()))
            other = std::stoi(e.path().filename());
    ASSERT_NE(other, 0);
    EXPECT_FALSE(entryOf(other));
    mach_port_t none = MACH_PORT_NULL;
    EXPECT_EQ(task_for_pid(mach_task_self(), other, &none), KERN_FAILURE);
    for (mach_port_t thread : threads) mach_port_deallocate(mach_task_self(), thread);
    mach_port_deallocate(mach_task_self(), task);
}

TEST(ProcessTable, WholeTableAndSelectors) {
    Child a, b;
    std::vector<kinfo_proc> all = table(KERN_PROC_ALL);
    std::vector<pid_t> ids;
    for (const kinfo_proc& e : all) ids.push_back(e.kp_proc.p_pid);
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
    for (pid_t pid : {getpid(), a.pid(), b.pid()})
        EXPECT_NE(std::find(ids.begin(), ids.end(), pid), ids.end()) << pid;

    std::vector<kinfo_proc> mine = table(KERN_PROC_UID, static_cast<int>(geteuid()));
    EXPECT_FALSE(mine.empty());
    for (const kinfo_proc& e : mine) EXPECT_EQ(e.kp_eproc.e_ucred.cr_uid, geteuid());

    // A buffer with room for two entries takes two and reports the shortage.
    int name[] = {CTL_KERN, KERN_PROC, KERN_PROC_ALL};
    std::vector<kinfo_proc> two(2);
    size_t size = 2 * sizeof(kinfo_proc);
    errno = 0;
    EXPECT_EQ(sysctl(name, 3, two.data(), &size, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_EQ(size, 2 * sizeof(kinfo_proc));
    EXPECT_EQ(two[0].kp_proc.p_pid, ids[0]);
}

TEST(ArgumentArea, NewerLayoutHoldsCountPathArgumentsAndEnvironment) {
    Child child({.argv = {"/usr/bin/tool", "-a", "x=y"}, .env = {"A=1"}});
    std::string path = realChildProgram();
    static const char kStrings[] = "/usr/bin/tool\0-a\0x=y\0A=1\0VARNO_CHILD_MODE=sleep";
    const std::string strings(kStrings, sizeof kStrings);
    auto padded = [](std::string s) {
        s += '\0';
        while (s.size() % 8 != 0) s += '\0';
        return s;
    };
    std::string expected = padded(std::string("\x03\0\0\0", 4) + path) + strings;
    EXPECT_EQ(area(KERN_PROCARGS2, child.pid()), expected);
    // The older layout has no count.
    EXPECT_EQ(area(KERN_PROCARGS, child.pid()), padded(path) + strings);
    // Too little room cuts the area.
    EXPECT_EQ(area(KERN_PROCARGS2, child.pid(), 10), expected.substr(0, 10));
}

TEST(ArgumentArea, ProcessesWithoutArgumentsHaveNone) {
    Child child;
    child.makeZombie();
    errno = 0;
    EXPECT_FALSE(area(KERN_PROCARGS2, child.pid()));
    EXPECT_EQ(errno, EINVAL);
    child.finish();
    EXPECT_FALSE(area(KERN_PROCARGS2, child.pid()));
    if (kernelThreadsVisible()) {
        EXPECT_FALSE(area(KERN_PROCARGS2, 2));
    }
}

TEST(Tasks, RunStatesOfEveryThread) {
    Child child({.mode = "threads"});
    mach_port_t task = taskFor(child.pid());
    EXPECT_EQ(runStates(task), std::vector<integer_t>(4, TH_STATE_WAITING));
    child.stop();
    afterCacheWindow();
    EXPECT_EQ(runStates(task), std::vector<integer_t>(4, TH_STATE_STOPPED));
    child.makeZombie();
    afterCacheWindow();
    std::vector<integer_t> states = runStates(task);
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states[0], TH_STATE_HALTED);
    mach_port_deallocate(mach_task_self(), task);
}

TEST(Tasks, BusyThreadUsesMostOfAProcessor) {
    Child child({.mode = "busy"});
    // Ahead of whatever else runs on a shared machine.
    if (host::testing::runningAsRoot()) setpriority(PRIO_PROCESS, child.pid(), -20);
    usleep(1000 * 1000);
    mach_port_t task = taskFor(child.pid());
    std::vector<mach_port_t> threads;
    ASSERT_EQ(task_threads(task, &threads), KERN_SUCCESS);
    ASSERT_EQ(threads.size(), 1u);
    double before = proc_testing::processorShare(child.pid());
    thread_basic_info info{};
    ASSERT_EQ(thread_info(threads[0], &info), KERN_SUCCESS);
    double after = proc_testing::processorShare(child.pid());
    // What the child really had, on the scale of one processor. A machine
    // that leaves it a processor sees more than half of one.
    double usage = info.cpu_usage / static_cast<double>(TH_USAGE_SCALE);
    EXPECT_GE(usage, std::min(before, after) - 0.02);
    EXPECT_LE(usage, std::max(before, after) + 0.02);
    if (before > 0.55) {
        EXPECT_GT(info.cpu_usage, TH_USAGE_SCALE / 2);
    }
    EXPECT_LE(info.cpu_usage, TH_USAGE_SCALE);
    EXPECT_EQ(info.run_state, TH_STATE_RUNNING);
    EXPECT_GT(info.user_time.seconds * 1000000 + info.user_time.microseconds, 0);
    mach_port_deallocate(mach_task_self(), threads[0]);
}

TEST(Tasks, PrioritiesFollowNiceness) {
    Child child;
    ASSERT_EQ(setpriority(PRIO_PROCESS, child.pid(), 5), 0);
    mach_port_t task = taskFor(child.pid());
    std::vector<mach_port_t> threads;
    ASSERT_EQ(task_threads(task, &threads), KERN_SUCCESS);
    thread_basic_info basic{};
    ASSERT_EQ(thread_info(threads[0], &basic), KERN_SUCCESS);
    EXPECT_EQ(basic.policy, POLICY_TIMESHARE);
    policy_timeshare_info timeshare{};
    ASSERT_EQ(thread_info(threads[0], &timeshare), KERN_SUCCESS);
    EXPECT_EQ(timeshare.base_priority, 26);
    EXPECT_EQ(timeshare.cur_priority, 26);
    policy_fifo_info fifo{};
    EXPECT_EQ(thread_info(threads[0], &fifo), KERN_INVALID_POLICY);
    mach_port_deallocate(mach_task_self(), threads[0]);
}

TEST(Tasks, MemoryAndEvents) {
    Child child;
    mach_port_t task = taskFor(child.pid());
    task_basic_info basic{};
    ASSERT_EQ(task_info(task, &basic), KERN_SUCCESS);
    EXPECT_GT(basic.resident_size, 0u);
    EXPECT_GE(basic.virtual_size, basic.resident_size);
    task_events_info events{};
    ASSERT_EQ(task_info(task, &events), KERN_SUCCESS);
    EXPECT_GT(events.faults, 0);
    EXPECT_GE(events.faults, events.pageins);

    std::uint64_t address = 0x90000000, size = 1;
    vm_region_basic_info region{};
    region.reserved = true;
    ASSERT_EQ(vm_region(task, &address, &size, &region), KERN_SUCCESS);
    EXPECT_FALSE(region.reserved);
    EXPECT_EQ(address, 0x90000000u);

    host_basic_info host{};
    vm_statistics vm{};
    std::uint64_t page = 0;
    ASSERT_EQ(host_info(mach_host_self(), &host), KERN_SUCCESS);
    ASSERT_EQ(host_statistics(mach_host_self(), &vm), KERN_SUCCESS);
    ASSERT_EQ(host_page_size(mach_host_self(), &page), KERN_SUCCESS);
    EXPECT_EQ(page, static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)));
    std::uint64_t pages =
        std::uint64_t{vm.free_count} + vm.active_count + vm.inactive_count + vm.wire_count;
    // The four counts make up the machine's memory, to within page rounding.
    EXPECT_LE(pages * page, host.memory_size);
    EXPECT_GE(pages * page + 4 * page, host.memory_size);
}

TEST(Tasks, PortOfAnEndedProcessFails) {
    Child child;
    mach_port_t task = taskFor(child.pid());
    pid_t pid = child.pid();
    child.finish();
    afterLivenessWindow();
    task_basic_info basic{};
    EXPECT_EQ(task_info(task, &basic), MACH_SEND_INVALID_DEST);
    std::vector<mach_port_t> threads;
    EXPECT_EQ(task_threads(task, &threads), MACH_SEND_INVALID_DEST);
    std::uint64_t address = 0, size = 0;
    vm_region_basic_info region{};
    EXPECT_EQ(vm_region(task, &address, &size, &region), MACH_SEND_INVALID_DEST);
    mach_port_t none = MACH_PORT_NULL;
    EXPECT_EQ(task_for_pid(mach_task_self(), pid, &none), KERN_FAILURE);
    EXPECT_EQ(mach_port_deallocate(mach_task_self(), task), KERN_SUCCESS);
    EXPECT_EQ(mach_port_deallocate(mach_task_self(), task), KERN_INVALID_ARGUMENT);
}

TEST(KernelFacts, ReleaseAndArgumentLimit) {
    host::testing::SandboxRoot root;
    root.writeFile("/System/Library/CoreServices/SystemVersion.plist",
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                   "\t<key>ProductVersion</key>\n\t<string>10.6.8</string>\n</dict>\n</plist>\n");
    int release[] = {CTL_KERN, KERN_OSRELEASE};
    char text[256];
    size_t size = sizeof text;
    ASSERT_EQ(sysctl(release, 2, text, &size, nullptr, 0), 0);
    EXPECT_STREQ(text, "10.8.0");
    int argmax[] = {CTL_KERN, KERN_ARGMAX};
    std::int32_t limit = 0;
    size = sizeof limit;
    ASSERT_EQ(sysctl(argmax, 2, &limit, &size, nullptr, 0), 0);
    EXPECT_EQ(limit, sysconf(_SC_ARG_MAX));
    EXPECT_EQ(sysctl(argmax, 2, &limit, &size, &limit, sizeof limit), -1);
}

}  // namespace
