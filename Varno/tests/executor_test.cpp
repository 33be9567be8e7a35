// Varno driving the real executor in a sandbox laid out by the sandbox
// builder: a queue of two operations, the authorization form, install and
// status.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "host/testing.h"
#include "plist/plist.h"
#include "sandbox/sandbox.h"

namespace {

using host::testing::RunOptions;
using host::testing::RunResult;

class VarnoWithExecutor : public ::testing::Test {
  protected:
    void SetUp() override {
        sandbox::BuildOptions options;
        options.users = {"ann"};
        options.extraArguments = {"--content", "demo", "--fill", "2M", "--apps", "4"};
        sandbox::build(root_, options);
    }

    RunResult varno(const std::vector<std::string>& args) {
        RunOptions options;
        options.argv = {std::getenv("VARNO_PROGRAM")};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        options.timeoutSeconds = 300;
        RunResult r = host::testing::run(options);
        EXPECT_FALSE(r.timedOut);
        return r;
    }

    host::testing::SandboxRoot root_;
};

TEST_F(VarnoWithExecutor, QueueOfTwoOperationsRunsBothAndSumsTheirResults) {
    ASSERT_TRUE(root_.exists("/Library/Caches/com.apple.Spotlight"));
    ASSERT_TRUE(root_.exists("/private/var/log/system.log"));
    ASSERT_EQ(
        varno({"queue", "add", "Tidy", "clean-caches", "UserSpotlight=true", "UserAudio=true"})
            .exitStatus,
        0);
    ASSERT_EQ(varno({"queue", "add", "Tidy", "clean-logs", "SystemSystem=true"}).exitStatus, 0);

    RunResult r = varno({"queue", "run", "Tidy", "--plist"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    plist::ParseError error;
    auto report = plist::parse(r.out, &error);
    ASSERT_TRUE(report) << error.message;
    const plist::Array& ops = *report->find("Operations")->asArray();
    ASSERT_EQ(ops.size(), 2u);
    std::int64_t sum = 0;
    for (const plist::Value& op : ops) {
        EXPECT_EQ(*op.find("ExitStatus"), plist::Value::integer(0));
        const plist::Array& records = *op.find("Records")->asArray();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(*records[0].find("KVXAEDictionaryIdentifierAuthExecOutputIdentifier"),
                  *op.find("Identifier"));
        const std::int64_t bytes =
            *records[0].find("KVXAETotalSizeRemovedAuthExecDictionaryOutputKey")->asInteger();
        EXPECT_GT(bytes, 0);
        EXPECT_EQ(*op.find("BytesRemoved"), plist::Value::integer(bytes));
        sum += bytes;
    }
    EXPECT_EQ(*ops[0].find("Identifier"), plist::Value("KVXAEUserSystemCleanCachesAuthExec"));
    EXPECT_EQ(*ops[1].find("Identifier"), plist::Value("KVXAEUserSystemCleanLogsAuthExec"));
    EXPECT_EQ(*report->find("BytesRemoved"), plist::Value::integer(sum));
    EXPECT_FALSE(root_.exists("/Library/Caches/com.apple.Spotlight"));
    EXPECT_FALSE(root_.exists("/private/var/log/system.log"));

    // Again, for a person: nothing is left to remove.
    RunResult again = varno({"queue", "run", "Tidy"});
    EXPECT_EQ(again.exitStatus, 0) << again.err;
    EXPECT_NE(again.out.find("  Cleaning caches: 0 bytes removed, exit status 0 (success)"),
              std::string::npos)
        << again.out;
    EXPECT_NE(again.out.find("  2 operations, all succeeded; 0 bytes removed in all\n"),
              std::string::npos);
}

// Names that look like records are announced as text; the size record after
// them still counts.
TEST_F(VarnoWithExecutor, NamesThatLookLikeRecordsStayText) {
    root_.writeFile("/private/tmp/xKVXAEProgressUpdateAuthExecOutputIdentifier(99.00,100.00)",
                    std::string(100, 'a'));
    root_.writeFile("/private/tmp/a<?xml ?><plist>", std::string(23, 'b'));
    std::int64_t planted = 0;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(root_.real("/private/tmp"))) {
        if (entry.is_regular_file() && !entry.is_symlink())
            planted += static_cast<std::int64_t>(entry.file_size());
    }
    ASSERT_GE(planted, 123);
    RunResult r = varno({"run", "clean-caches", "SystemTemporaryItems=true", "--plist"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    auto report = plist::parse(r.out);
    ASSERT_TRUE(report) << r.out;
    const plist::Value& op = (*report->find("Operations")->asArray())[0];
    EXPECT_EQ(op.find("Records")->asArray()->size(), 1u);
    EXPECT_EQ(*op.find("BytesRemoved"), plist::Value::integer(planted));
    for (const plist::Value& item : *op.find("Items")->asArray()) {
        if (*item.find("Kind") == plist::Value("Progress")) {
            EXPECT_EQ(*item.find("Total"), plist::Value::real(-1));
        }
    }
    EXPECT_FALSE(root_.exists("/private/tmp/a<?xml ?><plist>"));
}

TEST_F(VarnoWithExecutor, AuthorizeWritesAFormTheExecutorAccepts) {
    RunResult form = varno({"authorize"});
    ASSERT_EQ(form.exitStatus, 0) << form.err;
    ASSERT_EQ(form.out.size(), 32u);

    plist::Dictionary request{
        {"KVXAEIdentifierAuthExecConfigurationKey", plist::Value("KVXAESetuidrootAuthExec")}};
    const std::string document = plist::writeXML(plist::Value(request));
    const std::uint64_t length = document.size();
    auto framed = [&](const std::string& f) {
        return f + std::string(reinterpret_cast<const char*>(&length), sizeof length) + document;
    };
    const std::string tool = host::testing::bundlePath("Contents/MacOS/varnoTool");
    RunOptions options;
    options.argv = {tool};
    options.input = framed(form.out);
    EXPECT_EQ(host::testing::run(options).exitStatus, 0);
    // A form nobody made is refused.
    options.input = framed(std::string(32, 'x'));
    EXPECT_EQ(host::testing::run(options).exitStatus, 18);
}

TEST_F(VarnoWithExecutor, InstallAndStatusSayWhatTheyFound) {
    RunResult install = varno({"install"});
    EXPECT_EQ(install.exitStatus, 0) << install.err;
    EXPECT_NE(install.out.find("ran as root, which needs no set-user-ID bit"), std::string::npos)
        << install.out;

    RunResult status = varno({"status"});
    EXPECT_EQ(status.exitStatus, 0);
    EXPECT_NE(status.out.find("System root:     " + root_.path() + " (sandbox)\n"),
              std::string::npos)
        << status.out;
    EXPECT_NE(status.out.find("System version:  10.6.8 (0x1068)\n"), std::string::npos);
    EXPECT_NE(
        status.out.find("Preferences:     /var/root/Library/Preferences/com.kvxlabs.Varno2.plist"),
        std::string::npos);
    EXPECT_NE(status.out.find("/Contents/MacOS/varnoTool\n"), std::string::npos);
}

}  // namespace
