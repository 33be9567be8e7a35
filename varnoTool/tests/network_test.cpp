// Network parameters, run through the executor program on sandbox roots. The
// kernel variables are the sandbox's variables file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

#include "executor_harness.h"
#include "host/sysctl.h"

namespace {

using host::testing::RunResult;
using host::testing::SandboxRoot;

constexpr const char* kIdentifier = "KVXAESetNetworkParametersAuthExec";
constexpr const char* kConf = "/private/etc/sysctl.conf";
constexpr const char* kHeader =
    "# The following network optimizations were added by com.kvxlabs.Varno2 on ";
constexpr const char* kOldHeader =
    "# The following network optimizations were added by com.kvxlabs.Varno on ";
const std::string kPresetVariables =
    "kern.ipc.maxsockbuf=1\nnet.inet.tcp.sendspace=1\nnet.inet.tcp.recvspace=1\n"
    "net.inet.tcp.delayed_ack=1\nnet.inet.tcp.rfc1323=7\n";

struct Request {
    std::int64_t send = 65536;
    std::int64_t receive = 65536;
    std::int64_t maxBuffer = 4194304;
    bool delayedAcks = true;
    bool rfc1323 = true;
    bool debug = false;
};

plist::Dictionary dictionaryFor(const Request& r) {
    plist::Dictionary d = executor_test::request(kIdentifier, r.debug);
    d["TCPSendBuffer"] = plist::Value::integer(r.send);
    d["TCPReceiveBuffer"] = plist::Value::integer(r.receive);
    d["MaxSocketBuffer"] = plist::Value::integer(r.maxBuffer);
    d["DelayedAcks"] = plist::Value::boolean(r.delayedAcks);
    d["RFC1323"] = plist::Value::boolean(r.rfc1323);
    return d;
}

std::string valueLines(std::int64_t send, std::int64_t receive, std::int64_t maxBuffer, int delayed,
                       int rfc) {
    return "net.inet.tcp.sendspace=" + std::to_string(send) +
           "\nnet.inet.tcp.recvspace=" + std::to_string(receive) +
           "\nkern.ipc.maxsockbuf=" + std::to_string(maxBuffer) +
           "\nnet.inet.tcp.delayed_ack=" + std::to_string(delayed) +
           "\nnet.inet.tcp.rfc1323=" + std::to_string(rfc) + "\n";
}

// Month/day/two-digit year, 12-hour clock without a leading zero, AM/PM.
std::string shortStyle(time_t t) {
    struct tm local {};
    localtime_r(&t, &local);
    char text[64];
    strftime(text, sizeof text, "%-m/%-d/%y %-I:%M %p", &local);
    return text;
}

class Network : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "the executor tests run as root";
        // The executor runs with a cleared environment: local time is the
        // machine's, so the expected dates are made the same way.
        unsetenv("TZ");
        tzset();
        setSystemVersion("10.6.8");
        root.mkdirs("/private/etc");
        root.writeFile(host::kKernelVariablesFile, kPresetVariables);
        form = executor_test::rootAuthorizationForm();
    }

    void setSystemVersion(const std::string& version) {
        root.writeFile("/System/Library/CoreServices/SystemVersion.plist",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n"
                       "<dict>\n\t<key>ProductVersion</key>\n\t<string>" +
                           version + "</string>\n</dict>\n</plist>\n");
    }

    RunResult run(const plist::Dictionary& request) {
        before = time(nullptr);
        RunResult r = executor_test::runExecutor(executor_test::frame(form, request));
        after = time(nullptr);
        return r;
    }
    RunResult run(const Request& r) { return run(dictionaryFor(r)); }

    std::string conf() { return root.readFile(kConf).value_or("<missing>"); }
    std::string variables() { return root.readFile(host::kKernelVariablesFile).value_or(""); }

    // `text` ends with a block for `lines`, dated within the run.
    void expectBlockAtEnd(const std::string& text, const std::string& prefix,
                          const std::string& lines) {
        ASSERT_EQ(text.substr(0, prefix.size()), prefix);
        std::string block = text.substr(prefix.size());
        ASSERT_EQ(block.substr(0, std::string(kHeader).size()), kHeader) << text;
        std::size_t newline = block.find('\n');
        std::string date =
            block.substr(std::string(kHeader).size(), newline - std::string(kHeader).size());
        EXPECT_TRUE(date == shortStyle(before) || date == shortStyle(after)) << date;
        EXPECT_EQ(block.substr(newline + 1), lines);
    }

    SandboxRoot root;
    std::string form;
    time_t before = 0, after = 0;
};

TEST_F(Network, SetsTheVariablesInOrderAndAppendsTheBlock) {
    root.writeFile(kConf, "kern.maxfiles=12288\n");
    Request r;
    r.send = 131072;
    r.receive = 262144;
    r.maxBuffer = 8388608;
    r.delayedAcks = false;
    RunResult result = run(r);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out,
              "setNetworkParameters\n"
              "Writing sysctl parameters...kern.ipc.maxsockbuf = 8388608\n"
              "net.inet.tcp.sendspace = 131072\n"
              "net.inet.tcp.recvspace = 262144\n"
              "net.inet.tcp.delayed_ack = 0\n"
              "net.inet.tcp.rfc1323 = 1\n"
              "Saving new parameters to /private/etc/sysctl.conf...\n");
    EXPECT_EQ(variables(),
              "kern.ipc.maxsockbuf=8388608\nnet.inet.tcp.sendspace=131072\n"
              "net.inet.tcp.recvspace=262144\nnet.inet.tcp.delayed_ack=0\n"
              "net.inet.tcp.rfc1323=1\n");
    expectBlockAtEnd(conf(), "kern.maxfiles=12288\n", valueLines(131072, 262144, 8388608, 0, 1));
}

TEST_F(Network, SystemDefaultsRemoveTheBlockByVersion) {
    const std::string kept = "kern.maxfiles=12288\n";
    const std::string oldBlock =
        std::string(kHeader) + "1/2/10 3:04 PM\n" + valueLines(131072, 131072, 8388608, 0, 1);
    struct Case {
        const char* version;
        std::int64_t maxBuffer;
        bool blockExpected;
    } cases[] = {
        {"10.6.8", 4194304, false},
        {"10.6", 8388608, true},
        {"10.5.8", 8388608, false},
        {"10.5.8", 4194304, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.version) + " " + std::to_string(c.maxBuffer));
        setSystemVersion(c.version);
        root.writeFile(kConf, kept + oldBlock);
        Request r;
        r.maxBuffer = c.maxBuffer;
        RunResult result = run(r);
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        if (c.blockExpected)
            expectBlockAtEnd(conf(), kept, valueLines(65536, 65536, c.maxBuffer, 3, 1));
        else
            EXPECT_EQ(conf(), kept);
    }
}

TEST_F(Network, FileWithoutBlockGainsOneJoinedToItsLastLine) {
    root.writeFile(kConf, "# local settings\nkern.maxproc=2048");
    Request r;
    r.rfc1323 = false;
    ASSERT_EQ(run(r).exitStatus, 0);
    expectBlockAtEnd(conf(), "# local settings\nkern.maxproc=2048",
                     valueLines(65536, 65536, 4194304, 3, 0));
}

TEST_F(Network, BlockUnderTheFirstHeaderIsReplacedWithAllAfterIt) {
    root.writeFile(kConf, "kern.maxproc=2048\n" + std::string(kOldHeader) +
                              "12/8/09 6:45 PM\nnet.inet.tcp.sendspace=99999\n"
                              "kern.maxfiles=12288\n" +
                              kHeader + "1/1/11 1:00 AM\nnet.inet.tcp.recvspace=1\n");
    Request r;
    r.send = 16000;
    ASSERT_EQ(run(r).exitStatus, 0);
    expectBlockAtEnd(conf(), "kern.maxproc=2048\n", valueLines(16000, 65536, 4194304, 3, 1));
}

TEST_F(Network, ValuesBelowTheirLimitsChangeNothing) {
    root.writeFile(kConf, "kern.maxproc=2048\n");
    struct Case {
        std::int64_t send, receive, maxBuffer;
        int status;
    } cases[] = {
        {15999, 65536, 4194304, 4}, {65536, 15999, 4194304, 4}, {65536, 65536, 4194303, 4},
        {-1, 65536, 4194304, 4},    {16000, 16000, 4194304, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.send) + " " + std::to_string(c.receive) + " " +
                     std::to_string(c.maxBuffer));
        Request r;
        r.send = c.send;
        r.receive = c.receive;
        r.maxBuffer = c.maxBuffer;
        RunResult result = run(r);
        EXPECT_EQ(result.exitStatus, c.status);
        if (c.status == 4) {
            EXPECT_EQ(result.out,
                      "setNetworkParameters\n\t*** Error: Parameter out of allowed range.\n");
            EXPECT_EQ(conf(), "kern.maxproc=2048\n");
            EXPECT_EQ(variables(), kPresetVariables);
        } else {
            expectBlockAtEnd(conf(), "kern.maxproc=2048\n",
                             valueLines(16000, 16000, 4194304, 3, 1));
        }
    }
    // A value that is no whole number is refused the same way.
    for (const plist::Value& bad : {plist::Value("lots"), plist::Value::real(4194304.5)}) {
        plist::Dictionary d = dictionaryFor(Request{});
        d["MaxSocketBuffer"] = bad;
        root.writeFile(host::kKernelVariablesFile, kPresetVariables);
        EXPECT_EQ(run(d).exitStatus, 4);
        EXPECT_EQ(variables(), kPresetVariables);
    }
}

TEST_F(Network, MissingFileWithDefaultsBecomesAnEmptyFile) {
    ASSERT_FALSE(root.exists(kConf));
    ASSERT_EQ(run(Request{}).exitStatus, 0);
    EXPECT_EQ(conf(), "");
    struct stat st {};
    ASSERT_EQ(stat(root.real(kConf).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(Network, DebugModeChangesNothingInBehaviour) {
    Request r;
    r.send = 131072;
    r.debug = true;
    RunResult debug = run(r);
    std::string debugConf = conf(), debugVariables = variables();
    root.writeFile(host::kKernelVariablesFile, kPresetVariables);
    ASSERT_EQ(unlink(root.real(kConf).c_str()), 0);
    r.debug = false;
    RunResult plain = run(r);
    EXPECT_EQ(debug.exitStatus, 0);
    EXPECT_EQ(debug.out, plain.out);
    EXPECT_EQ(debugVariables, variables());
    expectBlockAtEnd(debugConf, "", valueLines(131072, 65536, 4194304, 3, 1));
}

TEST_F(Network, KeepsOwnerAndModeOfTheFile) {
    std::string real = root.writeFile(kConf, "kern.maxproc=2048\n", 0640);
    ASSERT_EQ(chown(real.c_str(), 65534, 65534), 0);
    ASSERT_EQ(run(Request{.send = 32768}).exitStatus, 0);
    struct stat st {};
    ASSERT_EQ(lstat(real.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    expectBlockAtEnd(conf(), "kern.maxproc=2048\n", valueLines(32768, 65536, 4194304, 3, 1));
    // Nothing is left beside it.
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(root.real("/private/etc")))
        entries += e.path().filename().string().find("sysctl") != std::string::npos;
    EXPECT_EQ(entries, 1);
}

TEST_F(Network, FileThatCannotBeTakenAsTextIsLeftByteForByte) {
    const std::string notUTF8 = "kern.maxproc=2048\n# caf\xe9\n";
    root.writeFile("/private/etc/elsewhere.conf", "kern.maxproc=1\n");
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string message;
    } cases[] = {
        {"not UTF-8", [&] { root.writeFile(kConf, notUTF8); },
         "***Error: /private/etc/sysctl.conf is not UTF-8 text; it was left as it is so that "
         "its contents are not lost.\n"},
        {"a link", [&] { ASSERT_EQ(symlink("elsewhere.conf", root.real(kConf).c_str()), 0); },
         " ** Error -10 getting string data for /private/etc/sysctl.conf\n"
         "***Error: /private/etc/sysctl.conf cannot be read; it was left as it is so that its "
         "contents are not lost.\n"},
        {"a folder", [&] { root.mkdirs(kConf); },
         " ** Error -10 getting string data for /private/etc/sysctl.conf\n"
         "***Error: /private/etc/sysctl.conf cannot be read; it was left as it is so that its "
         "contents are not lost.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(root.real(kConf));
        root.writeFile(host::kKernelVariablesFile, kPresetVariables);
        c.make();
        auto snapshot = [&] {
            struct stat st {};
            lstat(root.real(kConf).c_str(), &st);
            return std::to_string(st.st_ino) + ":" + std::to_string(st.st_mode) + ":" +
                   root.readFile(kConf).value_or("");
        };
        std::string beforeRun = snapshot();
        RunResult result = run(Request{.send = 32768});
        EXPECT_EQ(result.exitStatus, 4);
        // The kernel variables are set all the same.
        EXPECT_NE(variables(), kPresetVariables);
        EXPECT_EQ(result.out.substr(result.out.find("Saving new parameters")),
                  "Saving new parameters to /private/etc/sysctl.conf...\n" + c.message);
        EXPECT_EQ(snapshot(), beforeRun);
        EXPECT_EQ(root.readFile("/private/etc/elsewhere.conf"), "kern.maxproc=1\n");
    }
}

TEST_F(Network, VariableTheKernelLacksIsReportedAndTheRestGoOn) {
    root.writeFile(host::kKernelVariablesFile,
                   "kern.ipc.maxsockbuf=1\nnet.inet.tcp.sendspace=1\nnet.inet.tcp.recvspace=1\n"
                   "net.inet.tcp.rfc1323=1\n");
    RunResult result = run(Request{.rfc1323 = false});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_NE(result.out.find("net.inet.tcp.delayed_ack = 3\n"
                              "** Error -1 setting sysctl variable\n"
                              "net.inet.tcp.rfc1323 = 0\n"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(variables(),
              "kern.ipc.maxsockbuf=4194304\nnet.inet.tcp.sendspace=65536\n"
              "net.inet.tcp.recvspace=65536\nnet.inet.tcp.rfc1323=0\n");
    expectBlockAtEnd(conf(), "", valueLines(65536, 65536, 4194304, 3, 0));
}

TEST_F(Network, MissingKeysTakeTheRunningSystemsDefaults) {
    setSystemVersion("10.5.8");
    root.writeFile(kConf, std::string(kHeader) + "1/2/10 3:04 PM\n" +
                              valueLines(131072, 131072, 8388608, 0, 1));
    plist::Dictionary d = executor_test::request(kIdentifier);
    d["TCPSendBuffer"] = plist::Value::integer(131072);
    ASSERT_EQ(run(d).exitStatus, 0);
    expectBlockAtEnd(conf(), "", valueLines(131072, 65536, 8388608, 3, 1));

    // No key at all: the defaults, so the block goes.
    ASSERT_EQ(run(executor_test::request(kIdentifier)).exitStatus, 0);
    EXPECT_EQ(conf(), "");
}

}  // namespace
