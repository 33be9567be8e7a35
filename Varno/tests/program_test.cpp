// Varno as a program, driving a scripted stand-in executor placed beside it
// in a bundle of its own: arguments, framing, rendering, --plist, queues.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "host/testing.h"
#include "plist/plist.h"

namespace {

namespace fs = std::filesystem;
using host::testing::RunOptions;
using host::testing::RunResult;

const std::string kProgress = "KVXAEProgressUpdateAuthExecOutputIdentifier";
const std::string kCaches = "KVXAEUserSystemCleanCachesAuthExec";
const std::string kLogs = "KVXAEUserSystemCleanLogsAuthExec";

std::string sizeRecord(const std::string& tag, std::int64_t bytes) {
    plist::Dictionary d;
    d["KVXAEDictionaryIdentifierAuthExecOutputIdentifier"] = plist::Value(tag);
    d["KVXAETotalSizeRemovedAuthExecDictionaryOutputKey"] = plist::Value::integer(bytes);
    return plist::writeXML(plist::Value(d));
}

std::string increment() {
    return kProgress + "(10.00,-1.00)\n";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class VarnoProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string macos = app_.path() + "/Varno.app/Contents/MacOS";
        fs::create_directories(macos);
        varno_ = macos + "/Varno";
        host::testing::copyFile(std::getenv("VARNO_PROGRAM"), varno_);
        host::testing::copyFile(std::getenv("VARNO_FAKE_EXECUTOR"), macos + "/varnoTool");
        root_.writeFile("/etc/passwd", "root:*:0:0:System Administrator:/var/root:/bin/sh\n");
    }

    // With terminateAfterASecond, SIGTERM goes to Varno alone (not to the
    // executor it started) after a second.
    RunResult varno(std::vector<std::string> args, const std::string& chunk = "7",
                    bool terminateAfterASecond = false) {
        RunOptions options;
        options.argv = {varno_};
        if (terminateAfterASecond)
            options.argv = {"/usr/bin/timeout", "--preserve-status", "-s", "TERM", "1", varno_};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        options.env = {{"FAKE_EXECUTOR_DIR", script_.path()}, {"FAKE_EXECUTOR_CHUNK", chunk}};
        options.timeoutSeconds = 60;
        RunResult r = host::testing::run(options);
        EXPECT_FALSE(r.timedOut) << "Varno did not end";
        return r;
    }

    void script(const std::string& identifier, const std::string& stream,
                const std::string& status = "0") {
        std::ofstream(script_.path() + "/" + identifier + ".stream", std::ios::binary) << stream;
        std::ofstream(script_.path() + "/" + identifier + ".status") << status;
    }

    // The n-th request the stand-in received (from 1).
    std::optional<plist::Value> request(int n) {
        const std::string path = script_.path() + "/request-" + std::to_string(n) + ".plist";
        if (!fs::exists(path)) return std::nullopt;
        return plist::parse(readFile(path));
    }
    std::string file(const std::string& name) { return readFile(script_.path() + "/" + name); }

    std::string preferencesFile() const {
        return root_.real("/var/root/Library/Preferences/com.kvxlabs.Varno2.plist");
    }

    host::testing::SandboxRoot root_;
    host::testing::TempDir app_;
    host::testing::TempDir script_;
    std::string varno_;
};

TEST_F(VarnoProgram, BadArgumentsEndWith64AndAUsageLine) {
    const std::vector<std::vector<std::string>> cases = {
        {"frobnicate"},
        {"--bogus", "status"},
        {"run"},
        {"run", "clean-cache"},
        {"run", "clean-caches", "--bogus"},
        {"run", "clean-caches", "UserFonts=maybe"},
        {"run", "clean-caches", "=true"},
        {"run", "set-network", "TCPSendBuffer=lots"},
        {"run", "clean-caches", "--request", "/nonexistent/request.plist"},
        {"queue"},
        {"queue", "frob", "q"},
        {"queue", "remove", "q", "first"},
        {"queue", "show"},
        {"queue", "add", "q"},
        {"queue", "list", "--debug"},
        {"status", "extra"},
    };
    for (const auto& args : cases) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        RunResult r = varno(args);
        EXPECT_EQ(r.exitStatus, 64) << joined;
        EXPECT_NE(r.err.find("usage: Varno"), std::string::npos) << joined << "\n" << r.err;
        EXPECT_TRUE(r.out.empty()) << joined << "\n" << r.out;
    }
    // Nothing was started for any of them.
    EXPECT_FALSE(request(1));
}

TEST_F(VarnoProgram, UnknownOperationListsTheKnownOnes) {
    RunResult r = varno({"run", "KVXAEUserSystemCleanCachesAuthexec"});
    EXPECT_EQ(r.exitStatus, 64);
    EXPECT_NE(r.err.find("unknown operation \"KVXAEUserSystemCleanCachesAuthexec\""),
              std::string::npos);
    for (const char* known : {"clean-caches", "KVXAEUserSystemCleanCachesAuthExec",
                              "clean-localizations", "KVXAESetLoginWindowPlistAuthExec"})
        EXPECT_NE(r.err.find(known), std::string::npos) << known;
}

TEST_F(VarnoProgram, SendsTheFramedRequestAndPassesTheStatusOn) {
    script(kCaches, "", "7");
    RunResult r = varno({"run", "clean-caches", "UserFonts=true", "SystemBoot=no", "--debug"});
    EXPECT_EQ(r.exitStatus, 7) << r.err;
    auto sent = request(1);
    ASSERT_TRUE(sent);
    plist::Dictionary expected;
    expected["KVXAEIdentifierAuthExecConfigurationKey"] = plist::Value(kCaches);
    expected["KVXAEDebugAuthExecConfigurationKey"] = plist::Value::boolean(true);
    expected["UserFonts"] = plist::Value::boolean(true);
    expected["SystemBoot"] = plist::Value::boolean(false);
    EXPECT_EQ(*sent, plist::Value(expected));
    EXPECT_EQ(file("form-1").size(), 32u);
    EXPECT_EQ(file("root-1"), root_.path());
    EXPECT_NE(r.out.find("exit status 7 (the executor does not know the operation)"),
              std::string::npos)
        << r.out;
}

TEST_F(VarnoProgram, ExplainsTheSwapOperationsOwnStatuses) {
    const std::string swap = "KVXAESetSwapVolumeAuthExec";
    script(swap,
           "\tInstalling /sbin/kvx_dynamic_pager_start...\n"
           "\t***Error setting uid/gid on wait tool: Permission denied (13). Aborting.\n",
           "17");
    RunResult r = varno({"run", "set-swap-volume", "MountPoint=/Volumes/Spare"});
    EXPECT_EQ(r.exitStatus, 17) << r.err;
    EXPECT_NE(r.out.find("exit status 17 (the swap start tool's owner and group could not be set)"),
              std::string::npos)
        << r.out;
}

TEST_F(VarnoProgram, TypesValuesByTheOperationsKeys) {
    const std::string localizations = "KVXAECleanLocalizationsAuthExec";
    script(localizations, sizeRecord(localizations, 0));
    ASSERT_EQ(varno({"run", "clean-localizations", "UserApplications=true",
                     "Languages=French,German", "Languages=Dutch"})
                  .exitStatus,
              0);
    const plist::Dictionary yes{{"French", plist::Value::boolean(true)},
                                {"German", plist::Value::boolean(true)},
                                {"Dutch", plist::Value::boolean(true)}};
    EXPECT_EQ(*request(1)->find("Languages"), plist::Value(yes));
    EXPECT_EQ(*request(1)->find("UserApplications"), plist::Value::boolean(true));

    ASSERT_EQ(varno({"run", "clean-localizations", "Languages.Dutch=true", "Languages.Thai=false"})
                  .exitStatus,
              0);
    EXPECT_EQ(*request(2)->find("Languages"),
              plist::Value(plist::Dictionary{{"Dutch", plist::Value::boolean(true)},
                                             {"Thai", plist::Value::boolean(false)}}));

    // A string key keeps its commas; a list key splits at them.
    ASSERT_EQ(varno({"run", "set-startup-mode",
                     "KVXAEModeArgumentSetSystemStartupModeAuthExecConfigurationKey=-v,-x",
                     "MaxThings=12"})
                  .exitStatus,
              0);
    EXPECT_EQ(*request(3)->find("KVXAEModeArgumentSetSystemStartupModeAuthExecConfigurationKey"),
              plist::Value("-v,-x"));
    EXPECT_EQ(*request(3)->find("MaxThings"), plist::Value::integer(12));
    ASSERT_EQ(varno({"run", "empty-trash", "MountPoint=/,/Volumes/A\\,B"}).exitStatus, 0);
    EXPECT_EQ(*request(4)->find("MountPoint"),
              plist::Value(plist::Array{plist::Value("/"), plist::Value("/Volumes/A,B")}));

    // Every key the executor reads is known, so none draws a warning.
    RunResult trash =
        varno({"run", "empty-trash", "MountPoint=/", "ForceSecureEmptyTrashDeletionMethod=1"});
    ASSERT_EQ(trash.exitStatus, 0) << trash.err;
    EXPECT_EQ(trash.err.find("does not read"), std::string::npos) << trash.err;
    EXPECT_EQ(*request(5)->find("ForceSecureEmptyTrashDeletionMethod"), plist::Value::integer(1));

    // Whole and per-entry values for one key are refused rather than guessed.
    EXPECT_EQ(varno({"run", "clean-localizations", "Languages=French", "Languages.Dutch=true"})
                  .exitStatus,
              64);
}

TEST_F(VarnoProgram, ShowsTextPercentLinesAndASummary) {
    script(kCaches, "\tRemoving /Library/Caches/com.apple.ATS\n" + increment() +
                        "\tatsutil: removed\n" + increment() + increment() + increment() +
                        sizeRecord(kCaches, 1536));
    RunResult r = varno({"run", "clean-caches", "UserFonts=true"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(std::regex_replace(r.out, std::regex("in [0-9]+ s\n"), "in N s\n"),
              "Cleaning caches...\n"
              "\tRemoving /Library/Caches/com.apple.ATS\n"
              "25%\n"
              "\tatsutil: removed\n"
              "50%\n"
              "75%\n"
              "100%\n"
              "Summary\n"
              "  Cleaning caches: 1.5 KB removed, exit status 0 (success), in N s\n"
              "  1 operation, all succeeded; 1.5 KB removed in all\n");
}

TEST_F(VarnoProgram, PlistOutputParsesAndHoldsEveryRecord) {
    const std::string record = sizeRecord(kCaches, 4096);
    plist::Dictionary toolDocument{{"ErrorCode", plist::Value::integer(0)}};
    const std::string tool = plist::writeXML(plist::Value(toolDocument));
    script(kCaches, "\tRemoving /Library/Caches/<plist>.cache\n" + increment() + record +
                        "tail \x1b[1mbold\xff\n" + tool);
    for (const std::string chunk : {"1", "5", "4096"}) {
        RunResult r = varno({"run", "clean-caches", "UserAudio=true", "--plist"}, chunk);
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        plist::ParseError error;
        auto report = plist::parse(r.out, &error);
        ASSERT_TRUE(report) << error.message << "\n" << r.out;
        const plist::Array& ops = *report->find("Operations")->asArray();
        ASSERT_EQ(ops.size(), 1u);
        EXPECT_EQ(*ops[0].find("Identifier"), plist::Value(kCaches));
        EXPECT_EQ(*ops[0].find("ExitStatus"), plist::Value::integer(0));
        EXPECT_EQ(*ops[0].find("BytesRemoved"), plist::Value::integer(4096));
        EXPECT_EQ(*report->find("BytesRemoved"), plist::Value::integer(4096));
        const plist::Array& items = *ops[0].find("Items")->asArray();
        std::vector<std::string> kinds;
        for (const auto& item : items) kinds.push_back(*item.find("Kind")->asString());
        EXPECT_EQ(kinds, (std::vector<std::string>{"Text", "Progress", "Record", "Text", "Record"}))
            << "pieces of " << chunk;
        EXPECT_EQ(*items[0].find("Text"),
                  plist::Value("\tRemoving /Library/Caches/<plist>.cache\n"));
        EXPECT_EQ(*items[1].find("Position"), plist::Value::real(10));
        EXPECT_EQ(*items[1].find("Total"), plist::Value::real(-1));
        EXPECT_EQ(*items[2].find("Record"), *plist::parse(record));
        // Bytes XML cannot carry are replaced, the rest kept.
        EXPECT_EQ(*items[3].find("Text"), plist::Value("tail \xEF\xBF\xBD[1mbold\xEF\xBF\xBD\n"));
        EXPECT_EQ(*items[4].find("Record"), *plist::parse(tool));
        EXPECT_EQ(ops[0].find("Records")->asArray()->size(), 2u);
    }
}

// Whatever bytes names and tools put in the stream, the terminal gets no
// control character but the line breaks and tabs, and no byte that is not UTF-8.
TEST_F(VarnoProgram, ControlCharactersAreShownNotSentToTheTerminal) {
    const std::string kQuery = "KVXAEQueryProcessesAuthExec";
    plist::Dictionary process{{"PID", plist::Value::integer(42)},
                              {"EffectiveUser", plist::Value::integer(0)},
                              {"PercentCPU", plist::Value::real(0)},
                              {"PercentMemory", plist::Value::real(0)},
                              {"Command", plist::Value("top\xC2\x9B"
                                                       "1m\t\r\nx")}};
    plist::Dictionary record{
        {"KVXAEQueryProcessesAuthExecDictionaryOutputKey",
         plist::Value(plist::Array{plist::Value(process)})},
        {"KVXAEDictionaryIdentifierAuthExecOutputIdentifier", plist::Value(kQuery)}};
    script(kQuery,
           "\tRemoving /private/tmp/a\x1b[2K\x1b[1Ab\n"
           "\tRemoving /private/tmp/\x1b]0;owned\x07\n"
           "\x1b]52;c;cm0gLXJmIH4=\x07\n"
           "caf\xC3\xA9 \xE6\x97\xA5\tok\r\n"
           "\xFF\xFE \xC2\x85 \x7F \x01\n"
           "\xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80 \xE6\x97\n" +
               plist::writeXML(plist::Value(record)));
    RunResult r = varno({"run", "query-processes"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("Listing processes...\n"
                         "\tRemoving /private/tmp/a\\x1B[2K\\x1B[1Ab\n"
                         "\tRemoving /private/tmp/\\x1B]0;owned\\x07\n"
                         "\\x1B]52;c;cm0gLXJmIH4=\\x07\n"
                         "caf\xC3\xA9 \xE6\x97\xA5\tok\\r\n"
                         "\\xFF\\xFE \\xC2\\x85 \\x7F \\x01\n"
                         "\\xC0\\xAF \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80 \\xE6\\x97\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  top\\xC2\\x9B1m\\t\\r\\nx\n"), std::string::npos) << r.out;
    for (unsigned char c : r.out) {
        EXPECT_TRUE(c >= 0x20 || c == '\n' || c == '\t') << int(c);
        EXPECT_TRUE(c != 0x7F && c != 0xC2 && c < 0xF0) << int(c);  // no C1 control in this output
    }
}

TEST_F(VarnoProgram, ExecutorDyingInsideARecordIsReported) {
    const std::string record = sizeRecord(kCaches, 10);
    script(kCaches, "\tRemoving x\n" + record.substr(0, record.size() / 2), "kill");
    RunResult r = varno({"run", "clean-caches", "UserAudio=true"});
    EXPECT_EQ(r.exitStatus, 128 + 9);
    EXPECT_NE(r.err.find("ended inside a result record"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("the output ended inside a result record, ended by signal 9"),
              std::string::npos)
        << r.out;

    RunResult p = varno({"run", "clean-caches", "UserAudio=true", "--plist"});
    auto report = plist::parse(p.out);
    ASSERT_TRUE(report) << p.out;
    const plist::Value& op = (*report->find("Operations")->asArray())[0];
    EXPECT_EQ(*op.find("Signal"), plist::Value::integer(9));
    EXPECT_EQ(*op.find("Truncated"), plist::Value::boolean(true));
    EXPECT_EQ(*report->find("Succeeded"), plist::Value::boolean(false));
}

// A record that cannot be read, or that never came from an operation that
// always writes one, fails the run instead of vanishing.
TEST_F(VarnoProgram, ALostRecordFailsTheRunAndIsNamed) {
    const std::string kQuery = "KVXAEQueryProcessesAuthExec";
    std::string unreadable = sizeRecord(kQuery, 0);
    unreadable.replace(unreadable.find("<integer>"), 9, "<string>ctl\x01x</string><integer>");
    const struct {
        std::string identifier, alias, stream, problem;
    } cases[] = {
        {kQuery, "query-processes", unreadable, "a result record could not be read ("},
        {kCaches, "clean-caches", "\tRemoving a\n" + increment(),
         "the executor wrote no result record"},
        {kLogs, "clean-logs", sizeRecord(kCaches, 5), "the executor wrote no result record"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.alias);
        script(c.identifier, c.stream);
        RunResult r = varno({"run", c.alias});
        EXPECT_EQ(r.exitStatus, 76);
        EXPECT_NE(r.err.find("(" + c.identifier + "): " + c.problem), std::string::npos) << r.err;
        EXPECT_NE(r.out.find(": " + c.problem), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("1 operation, 1 failed"), std::string::npos) << r.out;

        RunResult p = varno({"run", c.alias, "--plist"});
        EXPECT_EQ(p.exitStatus, 76);
        auto report = plist::parse(p.out);
        ASSERT_TRUE(report) << p.out;
        EXPECT_EQ(*report->find("Succeeded"), plist::Value::boolean(false));
        const plist::Value& op = (*report->find("Operations")->asArray())[0];
        ASSERT_TRUE(op.find("Succeeded"));
        EXPECT_EQ(*op.find("Succeeded"), plist::Value::boolean(false));
        const plist::Value* lost = op.find("LostRecords");
        ASSERT_TRUE(lost && lost->asArray() && lost->asArray()->size() == 1u);
        EXPECT_EQ((*lost->asArray())[0].asString()->rfind(c.problem, 0), 0u);
    }
    // An operation that writes no record succeeds without one.
    RunResult none = varno({"run", "set-network", "--plist"});
    EXPECT_EQ(none.exitStatus, 0);
    EXPECT_EQ(*plist::parse(none.out)->find("Succeeded"), plist::Value::boolean(true));
}

TEST_F(VarnoProgram, QueueOfTwoRunsBothAndSumsTheirResults) {
    EXPECT_EQ(varno({"queue", "add", "Weekly", "clean-caches", "UserFonts=true"}).exitStatus, 0);
    EXPECT_EQ(
        varno({"queue", "add", "Weekly", "KVXAEUserSystemCleanLogsAuthExec", "SystemSystem=true"})
            .exitStatus,
        0);
    // The domain Varno makes is the user's own, as the agent makes it.
    EXPECT_EQ(fs::status(preferencesFile()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    RunResult list = varno({"queue", "list"});
    EXPECT_EQ(list.out, "Weekly  (2 configurations)\n");
    RunResult show = varno({"queue", "show", "Weekly"});
    EXPECT_EQ(show.out, "1. clean-caches UserFonts=true\n2. clean-logs SystemSystem=true\n");

    script(kCaches, increment() + sizeRecord(kCaches, 1000));
    script(kLogs, increment() + sizeRecord(kLogs, 2000));
    RunResult r = varno({"queue", "run", "Weekly"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("  Cleaning caches: 1000 bytes removed, exit status 0"),
              std::string::npos);
    EXPECT_NE(r.out.find("  Cleaning logs: 2.0 KB removed, exit status 0"), std::string::npos);
    EXPECT_NE(r.out.find("  2 operations, all succeeded; 2.9 KB removed in all\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(*request(1)->find("KVXAEIdentifierAuthExecConfigurationKey"), plist::Value(kCaches));
    EXPECT_EQ(*request(2)->find("KVXAEIdentifierAuthExecConfigurationKey"), plist::Value(kLogs));
    // One authorization serves the whole queue.
    EXPECT_EQ(file("form-1"), file("form-2"));

    RunResult p = varno({"queue", "run", "Weekly", "--plist"});
    auto report = plist::parse(p.out);
    ASSERT_TRUE(report);
    EXPECT_EQ(*report->find("BytesRemoved"), plist::Value::integer(3000));
    EXPECT_EQ(report->find("Operations")->asArray()->size(), 2u);
}

TEST_F(VarnoProgram, AFailingConfigurationIsReportedAndTheQueueGoesOn) {
    varno({"queue", "add", "q", "clean-caches", "UserFonts=true"});
    varno({"queue", "add", "q", "clean-logs", "UserPanic=true"});
    script(kCaches, "\t*** Error\n", "kill");
    script(kLogs, sizeRecord(kLogs, 5));
    RunResult r = varno({"queue", "run", "q"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.out.find("  Cleaning caches: ended by signal 9"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  Cleaning logs: 5 bytes removed, exit status 0 (success)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("2 operations, 1 failed"), std::string::npos);
}

TEST_F(VarnoProgram, ASignalStopsTheExecutorAndTheQueueAndStillReports) {
    varno({"queue", "add", "q", "clean-caches", "UserFonts=true"});
    varno({"queue", "add", "q", "clean-logs", "UserPanic=true"});
    script(kCaches, "\tRemoving a\n" + std::string(100000, '.') + "\n");  // 100 s at 1 ms a byte
    RunResult r = varno({"queue", "run", "q"}, "1", true);
    EXPECT_EQ(r.exitStatus, 128 + 15) << r.err;
    EXPECT_NE(r.out.find("  Cleaning caches: ended by signal 15"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("interrupted; 1 of 2 configurations run"), std::string::npos) << r.err;
    EXPECT_FALSE(request(2));
}

TEST_F(VarnoProgram, QueueChangesKeepTheRestOfTheDomain) {
    plist::Dictionary schedule;
    schedule["ConfigurationName"] = plist::Value("Nightly");
    schedule["QueueName"] = plist::Value("Weekly");
    schedule["Enabled"] = plist::Value::boolean(true);
    schedule["NextExecution"] = plist::Value(plist::Date{700000000});
    plist::Dictionary domain;
    domain["Configurations"] = plist::Value(
        plist::Dictionary{{"Schedule", plist::Value(plist::Array{plist::Value(schedule)})}});
    domain["LastSeenHostSession"] = plist::Value(plist::Date{699999999});
    root_.writeFile("/var/root/Library/Preferences/com.kvxlabs.Varno2.plist",
                    plist::writeBinary(plist::Value(domain)));

    ASSERT_EQ(varno({"queue", "add", "Weekly", "clean-caches", "SystemBoot=true"}).exitStatus, 0);
    ASSERT_EQ(varno({"queue", "add", "Weekly", "query-processes"}).exitStatus, 0);
    ASSERT_EQ(varno({"queue", "remove", "Weekly", "1"}).exitStatus, 0);
    auto stored = plist::parse(readFile(preferencesFile()));
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored->find("Configurations"), *plist::Value(domain).find("Configurations"));
    EXPECT_EQ(*stored->find("LastSeenHostSession"), plist::Value(plist::Date{699999999}));
    const plist::Value* weekly = stored->find("Queues")->find("Weekly");
    ASSERT_TRUE(weekly);
    const plist::Array& configurations = *weekly->find("Configurations")->asArray();
    ASSERT_EQ(configurations.size(), 1u);
    EXPECT_EQ(*configurations[0].find("KVXAEIdentifierAuthExecConfigurationKey"),
              plist::Value("KVXAEQueryProcessesAuthExec"));

    EXPECT_EQ(varno({"queue", "remove", "Weekly", "5"}).exitStatus, 64);
    EXPECT_EQ(varno({"queue", "remove", "Weekly"}).exitStatus, 0);
    EXPECT_EQ(varno({"queue", "run", "Weekly"}).exitStatus, 64);
}

TEST_F(VarnoProgram, AnUnreadableDomainIsNeverOverwritten) {
    const std::string domain = "/var/root/Library/Preferences/com.kvxlabs.Varno2.plist";
    root_.writeFile(domain, "<plist><dict>");
    RunResult r = varno({"queue", "add", "q", "clean-caches"});
    EXPECT_EQ(r.exitStatus, 74);
    // Named as the machine names it, wherever the system root lies.
    EXPECT_EQ(r.err,
              "Varno: cannot read " + domain + ": malformed XML (no element found) at line 1\n");
    EXPECT_EQ(readFile(preferencesFile()), "<plist><dict>");

    // Something other than a file is refused, not read: a pipe would never end.
    fs::remove(preferencesFile());
    ASSERT_EQ(mkfifo(preferencesFile().c_str(), 0600), 0);
    r = varno({"queue", "add", "q", "clean-caches"});
    EXPECT_EQ(r.exitStatus, 74);
    EXPECT_EQ(r.err, "Varno: cannot read " + domain + ": not a file\n");
    EXPECT_TRUE(fs::is_fifo(preferencesFile()));
}

// The status tells what went wrong, whatever words the domain's path holds.
TEST_F(VarnoProgram, AnUnreadableDomainEndsWith74WhateverItsPathSays) {
    const std::string home = "/Users/already has no configuration";
    root_.writeFile("/etc/passwd", "root:*:0:0:System Administrator:" + home + ":/bin/sh\n");
    root_.writeFile(home + "/Library/Preferences/com.kvxlabs.Varno2.plist", "<plist><dict>");
    for (const auto& args : {std::vector<std::string>{"schedule", "add", "N", "Q"},
                             std::vector<std::string>{"queue", "remove", "q"}}) {
        const RunResult r = varno(args);
        EXPECT_EQ(r.exitStatus, 74) << args[0] << "\n" << r.err;
    }
}

TEST_F(VarnoProgram, RequestFileAndNestedValues) {
    host::testing::TempDir files;
    plist::Dictionary base;
    base["KVXAEIdentifierAuthExecConfigurationKey"] = plist::Value(kLogs);
    base["UserPanic"] = plist::Value::boolean(true);
    base["SystemMail"] = plist::Value::boolean(true);
    std::ofstream(files.path() + "/request.plist") << plist::writeXML(plist::Value(base));
    plist::Dictionary profile{{"Sleep", plist::Value::integer(10)}};
    std::ofstream(files.path() + "/profile.plist") << plist::writeBinary(plist::Value(profile));
    script(kLogs, sizeRecord(kLogs, 0));

    ASSERT_EQ(
        varno({"run", "--request", files.path() + "/request.plist", "SystemMail=false"}).exitStatus,
        0);
    plist::Dictionary expected = base;
    expected["SystemMail"] = plist::Value::boolean(false);
    EXPECT_EQ(*request(1), plist::Value(expected));

    ASSERT_EQ(varno({"run", "set-power-management",
                     "KVXAEProfileSetPowerManagementSettingsExecutorConfigurationKey=@" +
                         files.path() + "/profile.plist",
                     "KVXAESourceSetPowerManagementSettingsExecutorConfigurationKey=1"})
                  .exitStatus,
              0);
    EXPECT_EQ(*request(2)->find("KVXAEProfileSetPowerManagementSettingsExecutorConfigurationKey"),
              plist::Value(profile));
    EXPECT_EQ(*request(2)->find("KVXAESourceSetPowerManagementSettingsExecutorConfigurationKey"),
              plist::Value::integer(1));
}

}  // namespace
