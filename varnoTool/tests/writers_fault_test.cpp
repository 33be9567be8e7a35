// Files other programs depend on (launch daemons, the login window and power
// settings, the Spotlight exclusion list, the kernel settings) are rewritten
// whole through one replacement, whose own tests also kill its writer. Here
// each writer meets a full disk once: the old file must stay as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "Utilities.h"
#include "host/faults.h"
#include "host/spotlight.h"
#include "host/sysctl.h"
#include "host/testing.h"
#include "operations/Network.h"

namespace {

using host::testing::namesIn;
using host::testing::SandboxRoot;
using host::testing::withFullDisk;

plist::Dictionary dictionaryOf(char fill, std::size_t entries) {
    plist::Dictionary d;
    for (std::size_t i = 0; i < entries; ++i)
        d["key" + std::to_string(i)] = plist::Value(std::string(100, fill));
    return d;
}

class Writers : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "mounting a small disk needs root";
    }
    SandboxRoot root_;
};

TEST_F(Writers, AFullDiskLeavesTheOldPropertyListWhole) {
    if (const std::string& why = host::testing::mountNamespaceRefusal(); !why.empty())
        GTEST_SKIP() << why;
    const std::string path = "/Library/Preferences/com.apple.loginwindow.plist";
    const plist::Dictionary before = dictionaryOf('a', 10);
    root_.mkdirs("/Library/Preferences");
    ASSERT_TRUE(writeDictionaryToPath(&before, path));
    const std::string folder = root_.real("/Library/Preferences");
    const plist::Dictionary bigger = dictionaryOf('b', 400);  // about 50 KiB
    int status = withFullDisk(folder, 8192, [&] {
        if (writeDictionaryToPath(&bigger, path)) return 1;  // it cannot fit
        auto now = dictionaryAtPath(path);
        if (!now || *now != before) return 2;
        std::vector<std::string> names = namesIn(folder);
        // Nothing but the old file and the filler: no half-written temporary.
        if (names != std::vector<std::string>{".filler", "com.apple.loginwindow.plist"}) return 3;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(Writers, AFullDiskLeavesTheExclusionListWhole) {
    if (const std::string& why = host::testing::mountNamespaceRefusal(); !why.empty())
        GTEST_SKIP() << why;
    root_.mkdirs(host::kSpotlightStoreFolder);
    ASSERT_EQ(host::_MDSetExclusion("/Volumes/Private", true), 0);
    const std::string folder = root_.real(host::kSpotlightStoreFolder);
    int status = withFullDisk(folder, 512, [&] {
        // Grow the list past what is left.
        int error = 0;
        for (int i = 0; i < 200 && error == 0; ++i)
            error = host::_MDSetExclusion("/Volumes/" + std::string(200, 'v') + std::to_string(i),
                                          true);
        if (error == 0) return 1;
        auto list = host::_MDCopyExclusionList();
        if (!list || list->empty() || list->front() != "/Volumes/Private") return 2;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

// The kernel settings file: the system reads it at every start.
class SysctlConf : public Writers {
  protected:
    void SetUp() override {
        Writers::SetUp();
        if (IsSkipped()) return;
        unsetenv("TZ");
        tzset();
        root_.writeFile("/System/Library/CoreServices/SystemVersion.plist",
                        plist::writeXML(plist::Value(plist::Dictionary{
                            {"ProductVersion", plist::Value(std::string("10.6.8"))}})));
        root_.writeFile(host::kKernelVariablesFile,
                        "kern.ipc.maxsockbuf=1\nnet.inet.tcp.sendspace=1\n"
                        "net.inet.tcp.recvspace=1\nnet.inet.tcp.delayed_ack=1\n"
                        "net.inet.tcp.rfc1323=1\n");
        // A long file of the administrator's own settings that must survive.
        for (int i = 0; i < 3000; ++i)
            own_ += "# setting " + std::to_string(i) + " kept by the administrator\n";
        root_.writeFile(kConf, own_);
    }

    static plist::Dictionary requestWith(std::int64_t send) {
        return plist::Dictionary{{"TCPSendBuffer", plist::Value::integer(send)},
                                 {"TCPReceiveBuffer", plist::Value::integer(65536)},
                                 {"MaxSocketBuffer", plist::Value::integer(4194304)}};
    }
    // "" when the file is the administrator's text followed by one whole
    // block for one of the two requests.
    std::string problemWithConf(const std::string& text) const {
        if (text.compare(0, own_.size(), own_) != 0) return "the administrator's lines are cut";
        const std::string block = text.substr(own_.size());
        if (block.find("# The following network optimizations were added by") != 0)
            return "no block: " + block.substr(0, 80);
        const std::string tail = block.substr(block.find('\n') + 1);
        for (const char* send : {"131072", "262144"}) {
            if (tail == std::string("net.inet.tcp.sendspace=") + send +
                            "\nnet.inet.tcp.recvspace=65536\nkern.ipc.maxsockbuf=4194304\n"
                            "net.inet.tcp.delayed_ack=3\nnet.inet.tcp.rfc1323=1\n")
                return "";
        }
        return "a cut block: " + tail;
    }

    static constexpr const char* kConf = "/private/etc/sysctl.conf";
    std::string own_;
};

TEST_F(SysctlConf, AFullDiskLeavesTheFileAsItWasAndIsReported) {
    if (const std::string& why = host::testing::mountNamespaceRefusal(); !why.empty())
        GTEST_SKIP() << why;
    const std::string folder = root_.real("/private/etc");
    int status = withFullDisk(folder, 4096, [&] {
        if (!freopen("/dev/null", "w", stdout)) return 9;
        // The file is about 130 KiB: its new version cannot fit beside it.
        if (setNetworkParameters(requestWith(131072)) != 4) return 1;
        if (root_.readFile(kConf) != own_) return 2;
        if (namesIn(folder) != std::vector<std::string>{".filler", "sysctl.conf"}) return 3;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
