#include <gtest/gtest.h>

#include "Dispatch.h"
#include "Protocol.h"
#include "executor_harness.h"

using executor_test::captureStdout;

namespace {

const std::string kProgress = "KVXAEProgressUpdateAuthExecOutputIdentifier";

// A size record as the platform's serializer writes it; readers in the main
// application match these bytes.
const char kGoldenSizeRecord[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n"
    "<dict>\n"
    "\t<key>KVXAEDictionaryIdentifierAuthExecOutputIdentifier</key>\n"
    "\t<string>KVXAEUserSystemCleanCachesAuthExec</string>\n"
    "\t<key>KVXAETotalSizeRemovedAuthExecDictionaryOutputKey</key>\n"
    "\t<integer>4096</integer>\n"
    "</dict>\n"
    "</plist>\n";

}  // namespace

TEST(ProgressRecords, FormatPositionsTotalsAndIncrements) {
    struct Case {
        double position, total;
        std::string expected;
    } cases[] = {
        {0, 25, kProgress + "(0.00,25.00)\n"},
        {2.5, 7, kProgress + "(2.50,7.00)\n"},
        {-3, 10, kProgress + "(-3.00,10.00)\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(captureStdout([&] { writeProgressUpdate(c.position, c.total); }), c.expected);
    EXPECT_EQ(captureStdout([] { writeProgressIncrament(10); }), kProgress + "(10.00,-1.00)\n");
}

TEST(ProgressRecords, ValueTooLargeForTheRecordIsRefusedWhole) {
    std::string out = captureStdout([] { writeProgressUpdate(1e120, 1); });
    EXPECT_EQ(out.find(kProgress), std::string::npos);
    EXPECT_EQ(out.rfind("\t***", 0), 0u) << out;
}

TEST(TextLines, AbsentWritesNothingEmptyWritesANewline) {
    EXPECT_EQ(captureStdout([] { wstrnl(nullptr); }), "");
    EXPECT_EQ(captureStdout([] { wstr(nullptr); }), "");
    EXPECT_EQ(captureStdout([] { wstrnl(""); }), "\n");
    EXPECT_EQ(captureStdout([] { wstr("a\tb"); }), "a\tb");
    EXPECT_EQ(captureStdout([] { showStringNL("caf\xc3\xa9"); }), "caf\xc3\xa9\n");
}

// Text a tool or a name left without its newline cannot carry a record
// along: the record's own write ends that line first.
TEST(Records, AlwaysStartALine) {
    totalSizeRemoved = 4096;
    EXPECT_EQ(captureStdout([] {
                  wstr("\tatsutil: half a line");
                  writeProgressUpdate(1, 2);
                  wstr("x");
                  writeTotalSizeRemovedDictionaryWithID("KVXAEUserSystemCleanCachesAuthExec");
                  writeProgressUpdate(2, 2);
              }),
              "\tatsutil: half a line\n" + kProgress + "(1.00,2.00)\nx\n" + kGoldenSizeRecord +
                  kProgress + "(2.00,2.00)\n");
    totalSizeRemoved = 0;
}

TEST(ResultRecords, SizeRecordMatchesTheSerializerByteForByte) {
    totalSizeRemoved = 4096;
    EXPECT_EQ(captureStdout([] {
                  writeTotalSizeRemovedDictionaryWithID("KVXAEUserSystemCleanCachesAuthExec");
              }),
              kGoldenSizeRecord);
    totalSizeRemoved = 0;
    std::string zero = captureStdout([] { writeTotalSizeRemovedDictionaryWithID("X"); });
    EXPECT_NE(zero.find("<integer>0</integer>"), std::string::npos);
}

TEST(ResultRecords, ExistingTagIsReplaced) {
    plist::Dictionary d;
    d[kDictionaryIdentifierKey] = plist::Value("stale");
    d["Other"] = plist::Value::integer(1);
    std::string out = captureStdout([&] { writeDictionaryWithID(d, "KVXAEQueryProcessesAuthExec"); });
    auto parsed = plist::parse(out);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed->find(kDictionaryIdentifierKey)->asString(), "KVXAEQueryProcessesAuthExec");
    EXPECT_EQ(parsed->find("Other")->asInteger(), 1);
    EXPECT_EQ(out.find("stale"), std::string::npos);
}

TEST(Options, BoolFromConfigAndKey) {
    plist::Dictionary d;
    d["yes"] = plist::Value::boolean(true);
    d["no"] = plist::Value::boolean(false);
    d["text"] = plist::Value("YES");
    d["number"] = plist::Value::integer(1);
    EXPECT_FALSE(boolFromConfigAndKey(nullptr, "yes"));
    EXPECT_FALSE(boolFromConfigAndKey(&d, nullptr));
    EXPECT_FALSE(boolFromConfigAndKey(&d, "missing"));
    EXPECT_TRUE(boolFromConfigAndKey(&d, "yes"));
    EXPECT_FALSE(boolFromConfigAndKey(&d, "no"));
    // Only a real boolean turns an option on.
    EXPECT_FALSE(boolFromConfigAndKey(&d, "text"));
    EXPECT_FALSE(boolFromConfigAndKey(&d, "number"));
}

TEST(Dispatch, DebugFlagIsSetBeforeTheIdentifierIsExamined) {
    AEDEBUG = false;
    auto unknown = executor_test::request("NoSuchOperation", true);
    EXPECT_EQ(callExecutionFunction(unknown), 7);
    EXPECT_TRUE(AEDEBUG);
    auto plain = executor_test::request("NoSuchOperation", false);
    EXPECT_EQ(callExecutionFunction(plain), 7);
    EXPECT_FALSE(AEDEBUG);
}

TEST(Dispatch, IdentifiersMatchExactly) {
    EXPECT_EQ(callExecutionFunction(executor_test::request("KVXAESetuidrootAuthExec")), 0);
    EXPECT_EQ(callExecutionFunction(executor_test::request("kvxaesetuidrootauthexec")), 7);
    EXPECT_EQ(callExecutionFunction(executor_test::request("KVXAESetuidrootAuthExec ")), 7);
    plist::Dictionary none;
    EXPECT_EQ(callExecutionFunction(none), 7);
    plist::Dictionary wrongType;
    wrongType["KVXAEIdentifierAuthExecConfigurationKey"] = plist::Value::integer(1);
    EXPECT_EQ(callExecutionFunction(wrongType), 7);
}
