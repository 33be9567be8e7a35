#include "host/sysctl.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/faults.h"
#include "host/testing.h"

namespace {

using host::testing::SandboxRoot;
using host::testing::TempDir;

constexpr const char* kVariables = "/private/var/db/kvx-sysctl.conf";

void writeSystemVersion(const SandboxRoot& root, const char* version) {
    root.writeFile(
        "/System/Library/CoreServices/SystemVersion.plist",
        std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist "
                    "version=\"1.0\">\n<dict>\n\t<key>ProductVersion</key>\n\t<string>") +
            version + "</string>\n</dict>\n</plist>\n");
}

std::int64_t read64(const char* name) {
    std::int64_t v = -1;
    size_t size = sizeof v;
    EXPECT_EQ(host::sysctlbyname(name, &v, &size, nullptr, 0), 0) << name << ": " << errno;
    EXPECT_EQ(size, sizeof v);
    return v;
}

TEST(KernelVariables, SandboxFileIsReadAndRewrittenInPlace) {
    SandboxRoot root;
    root.writeFile(kVariables,
                   "# kernel variables of this sandbox\n"
                   "kern.ipc.maxsockbuf=8388608\n"
                   "\n"
                   "net.inet.tcp.delayed_ack = 3\n"
                   "kern.hostname=sandbox\n",
                   0640);
    EXPECT_EQ(read64("kern.ipc.maxsockbuf"), 8388608);

    std::int32_t narrow = 0;
    size_t size = sizeof narrow;
    ASSERT_EQ(host::sysctlbyname("net.inet.tcp.delayed_ack", &narrow, &size, nullptr, 0), 0);
    EXPECT_EQ(narrow, 3);
    EXPECT_EQ(size, 4u);

    std::int64_t wide = 4194304;
    ASSERT_EQ(host::sysctlbyname("kern.ipc.maxsockbuf", nullptr, nullptr, &wide, sizeof wide), 0);
    std::int32_t zero = 0;
    ASSERT_EQ(host::sysctlbyname("net.inet.tcp.delayed_ack", nullptr, nullptr, &zero, 4), 0);
    EXPECT_EQ(root.readFile(kVariables),
              "# kernel variables of this sandbox\n"
              "kern.ipc.maxsockbuf=4194304\n"
              "\n"
              "net.inet.tcp.delayed_ack = 0\n"
              "kern.hostname=sandbox\n");
    struct stat st {};
    ASSERT_EQ(stat(root.real(kVariables).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    char name[32];
    size = sizeof name;
    ASSERT_EQ(host::sysctlbyname("kern.hostname", name, &size, nullptr, 0), 0);
    EXPECT_STREQ(name, "sandbox");
    EXPECT_EQ(size, 8u);
}

TEST(KernelVariables, FailuresAsTheKernelReportsThem) {
    SandboxRoot root;
    std::int64_t v = 1;
    size_t size = sizeof v;
    // No file: no variable exists.
    EXPECT_EQ(host::sysctlbyname("kern.ipc.maxsockbuf", &v, &size, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOENT);

    root.writeFile(kVariables, "kern.ipc.maxsockbuf=3000000000\nkern.hostname=x\n");
    struct Case {
        const char* name;
        size_t oldSize;
        const void* newValue;
        size_t newSize;
        int error;
    } cases[] = {
        {"net.inet.tcp.delayed_ack", 8, nullptr, 0, ENOENT},
        {"kern.ipc.maxsockbuf", 4, nullptr, 0, ERANGE},
        {"kern.ipc.maxsockbuf", 2, nullptr, 0, ENOMEM},
        {"kern.ipc.maxsockbuf", 0, &v, 2, EINVAL},
        {"kern.hostname", 0, &v, 8, EPERM},
        {"kern.hostname", 1, nullptr, 0, ENOMEM},
        {"kern.ostype", 0, &v, 8, EPERM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char buffer[16];
        size_t room = c.oldSize;
        errno = 0;
        EXPECT_EQ(host::sysctlbyname(c.name, c.oldSize ? buffer : nullptr,
                                     c.oldSize ? &room : nullptr, c.newValue, c.newSize),
                  -1);
        EXPECT_EQ(errno, c.error);
    }
    EXPECT_EQ(root.readFile(kVariables), "kern.ipc.maxsockbuf=3000000000\nkern.hostname=x\n");
}

// The variables file is replaced whole; a disk too full for the new version
// leaves the old one, and the failure is the writer's.
TEST(KernelVariables, AFullDiskLeavesTheFileAsItWas) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "mounting a small disk needs root";
    if (const std::string& why = host::testing::mountNamespaceRefusal(); !why.empty())
        GTEST_SKIP() << why;
    SandboxRoot root;
    std::string text = "kern.ipc.maxsockbuf=8388608\n";
    for (int i = 0; i < 300; ++i) text += "# a line of the administrator's, kept as it is\n";
    root.writeFile(kVariables, text);
    const std::string folder = root.real("/private/var/db");
    const int status = host::testing::withFullDisk(folder, 4096, [&] {
        std::int64_t wide = 4194304;
        if (host::sysctlbyname("kern.ipc.maxsockbuf", nullptr, nullptr, &wide, sizeof wide) == 0)
            return 1;
        if (errno != ENOSPC) return 2;
        if (root.readFile(kVariables) != text) return 3;
        return host::testing::namesIn(folder) ==
                       std::vector<std::string>{".filler", "kvx-sysctl.conf"}
                   ? 0
                   : 4;
    });
    EXPECT_EQ(status, 0);
}

TEST(KernelVariables, ReleaseFollowsTheSystemVersion) {
    SandboxRoot root;
    char release[64];
    size_t size = sizeof release;
    EXPECT_EQ(host::sysctlbyname("kern.osrelease", release, &size, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOENT);

    writeSystemVersion(root, "10.6.8");
    size = sizeof release;
    ASSERT_EQ(host::sysctlbyname("kern.osrelease", release, &size, nullptr, 0), 0);
    EXPECT_STREQ(release, "10.8.0");

    // A changed system version is seen at once (the file is read again).
    writeSystemVersion(root, "10.5");
    size = sizeof release;
    ASSERT_EQ(host::sysctlbyname("kern.osrelease", release, &size, nullptr, 0), 0);
    EXPECT_STREQ(release, "9.0.0");

    EXPECT_EQ(host::darwinReleaseForSystemVersion(0x1049), "8.9.0");
    EXPECT_EQ(host::darwinReleaseForSystemVersion(0x1039), "7.9.0");
    EXPECT_EQ(host::darwinReleaseForSystemVersion(0), "");

    // The argument limit is the machine's, whatever the file says.
    root.writeFile(kVariables, "kern.argmax=5\n");
    EXPECT_EQ(read64("kern.argmax"), sysconf(_SC_ARG_MAX));
}

TEST(KernelVariables, LinuxCounterparts) {
    TempDir procSys;
    auto write = [&](const std::string& file, const std::string& text) {
        std::string path = procSys.path() + "/" + file;
        std::filesystem::create_directories(path.substr(0, path.rfind('/')));
        std::ofstream(path) << text;
    };
    auto read = [&](const std::string& file) {
        std::ifstream in(procSys.path() + "/" + file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    };
    write("net/ipv4/tcp_wmem", "4096\t16384\t4194304\n");
    write("net/ipv4/tcp_rmem", "4096\t131072\t6291456\n");
    write("net/core/wmem_max", "212992\n");
    write("net/core/rmem_max", "212992\n");
    write("net/ipv4/tcp_window_scaling", "1\n");
    auto call = [&](const char* name, std::int64_t* out, const std::int64_t* in) {
        size_t size = sizeof *out;
        return host::sysctl_testing::sysctlbynameOnLinux(
            procSys.path(), name, out, out ? &size : nullptr, in, in ? sizeof *in : 0);
    };
    std::int64_t v = 0;
    ASSERT_EQ(call("net.inet.tcp.sendspace", &v, nullptr), 0);
    EXPECT_EQ(v, 16384);
    ASSERT_EQ(call("net.inet.tcp.recvspace", &v, nullptr), 0);
    EXPECT_EQ(v, 131072);
    ASSERT_EQ(call("kern.ipc.maxsockbuf", &v, nullptr), 0);
    EXPECT_EQ(v, 212992);

    std::int64_t send = 65536, maxbuf = 4194304, off = 0;
    ASSERT_EQ(call("net.inet.tcp.sendspace", nullptr, &send), 0);
    ASSERT_EQ(call("kern.ipc.maxsockbuf", nullptr, &maxbuf), 0);
    ASSERT_EQ(call("net.inet.tcp.rfc1323", nullptr, &off), 0);
    EXPECT_EQ(read("net/ipv4/tcp_wmem"), "4096 65536 4194304\n");
    EXPECT_EQ(read("net/ipv4/tcp_rmem"), "4096\t131072\t6291456\n");
    EXPECT_EQ(read("net/core/wmem_max"), "4194304\n");
    EXPECT_EQ(read("net/core/rmem_max"), "4194304\n");
    EXPECT_EQ(read("net/ipv4/tcp_window_scaling"), "0\n");

    // Linux has no switch for delayed acknowledgements.
    errno = 0;
    EXPECT_EQ(call("net.inet.tcp.delayed_ack", &v, nullptr), -1);
    EXPECT_EQ(errno, ENOENT);
}

}  // namespace
