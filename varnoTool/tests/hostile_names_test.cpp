// Names chosen by a hostile user, planted wherever an operation lists, and
// the processes such a user can start: the stream stays a stream of whole
// lines and well-formed records, every planted item meant to go is gone and
// counted, and nothing else changes.
#include <expat.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "bundle/arch.h"
#include "bundle/machofixtures.h"
#include "cleaning_support.h"
#include "executor_harness.h"
#include "plist/display.h"
#include "proc/children.h"
#include "sandbox/sandbox.h"

namespace {

using host::testing::kAddressSanitizer;
using host::testing::RunResult;
using host::testing::SandboxRoot;

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
constexpr const char* kProgressIdentifier = "KVXAEProgressUpdateAuthExecOutputIdentifier";

// Every kind of name the suite plants: line breaks, terminal escapes,
// controls, text that looks like a record or a format, each kind of byte
// sequence that is not UTF-8, and names of the longest length.
std::vector<std::string> hostileNames() {
    return {
        "nl\nKVXAEProgressUpdateAuthExecOutputIdentifier(99.00,100.00)\nfake",
        "KVXAEProgressUpdateAuthExecOutputIdentifier(99.00,100.00)",
        "cr\r tab\t",
        "esc\x1B[2K\x1B[1A\x1B]0;title\x07\x1B]52;c;eA==\x07",
        "del\x7F c1\xC2\x85\xC2\x9B",
        "a<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist>",
        "%n%s%n",
        "fat are: ppc x86_64 ",
        "lone\x80\xBF",
        "overlong\xC0\xAF\xE0\x80\xAF",
        "surrogate\xED\xA0\x80",
        "cut\xE2\x82",
        "bad\xFF\xFE",
        std::string(255, 'L'),
        std::string(253, '\xE9') + "\xFE\xFF",
    };
}

// The name with a prefix, kept within the file system's 255 bytes.
std::string prefixed(const std::string& prefix, const std::string& name) {
    return (prefix + name).substr(0, 255);
}

// Whether a property list (a request, an Info.plist) can carry the name.
bool xmlHolds(const std::string& name) {
    std::optional<plist::Value> back = plist::parseXML(plist::writeXML(plist::Value(name)));
    return back && back->asString() && *back->asString() == name;
}

bool wellFormed(const std::string& xml) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    bool ok =
        XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}

// The stream as a strict reader takes it: progress records are whole lines,
// a result record runs from a line that is exactly the declaration to the
// line "</plist>"; everything else is text.
struct Stream {
    std::vector<std::string> text;
    std::vector<std::string> progress;
    std::vector<plist::Value> records;
};

Stream split(const std::string& out) {
    Stream s;
    EXPECT_TRUE(out.empty() || out.back() == '\n') << "the stream ends inside a line";
    std::vector<std::string> lines;
    for (size_t start = 0; start < out.size();) {
        size_t end = std::min(out.find('\n', start), out.size());
        lines.push_back(out.substr(start, end - start));
        start = end + 1;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line == kDeclaration) {
            std::string xml;
            for (; i < lines.size(); ++i) {
                xml += lines[i] + "\n";
                if (lines[i] == "</plist>") break;
            }
            EXPECT_TRUE(wellFormed(xml)) << xml.substr(0, 300);
            std::optional<plist::Value> value = plist::parseXML(xml);
            EXPECT_TRUE(value.has_value());
            if (value) s.records.push_back(std::move(*value));
        } else if (line.rfind(kProgressIdentifier, 0) == 0) {
            s.progress.push_back(line);
        } else {
            // Only the line's own leading tabs may be below a space.
            size_t body = line.find_first_not_of('\t');
            for (size_t k = body == std::string::npos ? line.size() : body; k < line.size(); ++k)
                EXPECT_GE(static_cast<unsigned char>(line[k]), 0x20u) << line;
            s.text.push_back(line);
        }
    }
    return s;
}

std::string progress(double position, double total) {
    std::string line = cleaning_test::progress(position, total);
    line.pop_back();
    return line;
}

std::int64_t totalOf(const plist::Value& record) {
    const plist::Value* total = record.find("KVXAETotalSizeRemovedAuthExecDictionaryOutputKey");
    return total && total->asInteger() ? *total->asInteger() : -1;
}

class HostileNames : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "the executor tests run as root";
        cleaning_test::buildSystem(root);
    }

    // Plants each name as a file (sizes differ) in the folder; with `deep`, a
    // folder of that name holding a file of that name too. Returns the bytes.
    std::int64_t plant(const std::string& folder, const std::string& prefix, bool deep) {
        std::int64_t bytes = 0;
        std::int64_t size = 1;
        for (const std::string& name : hostileNames()) {
            const std::string file = prefixed(prefix, name);
            root.writeFile(folder + "/" + file, std::string(static_cast<size_t>(size), 'x'));
            planted.push_back(folder + "/" + file);
            bytes += size++;
            if (!deep) continue;
            const std::string sub = prefixed(prefix, "d" + name);
            root.writeFile(folder + "/" + sub + "/" + name, std::string(1000, 'y'));
            planted.push_back(folder + "/" + sub);
            bytes += 1000;
        }
        return bytes;
    }

    // Runs the request; afterwards every planted item is gone and the rest of
    // the tree is as it was.
    Stream runAndCheck(const plist::Dictionary& request) {
        sandbox::TreeSnapshot before = sandbox::snapshotTree(root);
        RunResult r = cleaning_test::runOperation(root, request);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        for (const std::string& path : planted)
            EXPECT_FALSE(root.exists(path)) << plist::displayForm(path);
        std::erase_if(before, [&](const auto& entry) {
            return std::any_of(planted.begin(), planted.end(), [&](const std::string& p) {
                return entry.first == p || entry.first.rfind(p + "/", 0) == 0;
            });
        });
        sandbox::TreeSnapshot after = sandbox::snapshotTree(root);
        for (const auto& [path, what] : after) {
            auto it = before.find(path);
            EXPECT_TRUE(it != before.end() && it->second == what)
                << "changed: " << plist::displayForm(path);
        }
        for (const auto& entry : before)
            EXPECT_EQ(after.count(entry.first), 1u) << plist::displayForm(entry.first);
        return split(r.out);
    }

    SandboxRoot root;
    std::vector<std::string> planted;
};

TEST_F(HostileNames, CleaningGroupsRemoveAndCountEveryName) {
    struct Group {
        const char* identifier;
        const char* key;
        const char* folder;
        const char* prefix;  // the text a substring group looks for
    };
    const Group groups[] = {
        {"KVXAEUserSystemCleanCachesAuthExec", "SystemTemporaryItems", "/private/tmp", ""},
        {"KVXAEUserSystemCleanCachesAuthExec", "UserDockIcons", "/Library/Caches",
         "com.apple.dock.iconcache"},
        {"KVXAEUserSystemCleanLogsAuthExec", "UserCrashReporter", "/Library/Logs/CrashReporter",
         ""},
        {"KVXAEUserSystemCleanLogsAuthExec", "SystemSystem", "/private/var/log", "system.log"},
    };
    // Outside every selected group: stays.
    root.writeFile("/Library/Caches/bad\xFF\xFE", "kept");
    for (const Group& g : groups) {
        SCOPED_TRACE(g.key);
        planted.clear();
        std::int64_t bytes = plant(g.folder, g.prefix, true);
        std::vector<std::string> sorted = planted;
        std::sort(sorted.begin(), sorted.end());
        std::vector<std::string> announced;
        for (const std::string& path : sorted)
            announced.push_back("\tRemoving " + plist::displayForm(path));

        Stream s = runAndCheck(cleaning_test::request(g.identifier, {g.key}));
        EXPECT_EQ(s.text, announced);
        EXPECT_EQ(s.progress, std::vector<std::string>{progress(10, -1)});
        ASSERT_EQ(s.records.size(), 1u);
        EXPECT_EQ(totalOf(s.records[0]), bytes);
    }
    EXPECT_EQ(root.readFile("/Library/Caches/bad\xFF\xFE"), "kept");
}

TEST_F(HostileNames, LocalizationsOfEveryApplicationName) {
    std::int64_t bytes = 0;
    std::int64_t size = 1;
    for (const std::string& name : hostileNames()) {
        const std::string resources =
            "/Applications/" + name.substr(0, 250) + ".app/Contents/Resources";
        root.writeFile(resources + "/French.lproj/" + name, std::string(size, 'x'));
        root.writeFile(resources + "/English.lproj/x", "kept");
        root.writeFile(resources + "/" + name.substr(0, 249) + ".lproj/x", "kept");
        planted.push_back(resources + "/French.lproj");
        bytes += size++;
    }
    plist::Dictionary r =
        cleaning_test::request("KVXAECleanLocalizationsAuthExec", {"UserApplications"});
    plist::Dictionary languages;
    languages["French"] = plist::Value::boolean(true);
    r["Languages"] = plist::Value(languages);

    Stream s = runAndCheck(r);
    const double n = static_cast<double>(planted.size());
    std::vector<std::string> expected = {progress(0, n)};
    for (size_t i = 0; i < planted.size(); ++i) expected.push_back(progress(i, n));
    EXPECT_EQ(s.progress, expected);
    EXPECT_EQ(s.text.size(), planted.size() + 1);  // "Scanning" and one "Removing" each
    ASSERT_EQ(s.records.size(), 1u);
    EXPECT_EQ(totalOf(s.records[0]), bytes);
}

// Bundles of every name lose the architecture the machine has no use for,
// though lipo repeats their paths whatever bytes those hold.
TEST_F(HostileNames, BundlesOfEveryNameAreSlimmed) {
    root.writeFile(bundle::kHostArchFile, "x86_64");
    std::map<std::string, std::int64_t> sizes;  // each executable's size before
    for (const std::string& name : hostileNames()) {
        const std::string bundle = "/Applications/" + name.substr(0, 250) + ".app";
        // An Info.plist can name only what XML holds.
        const std::string executable = xmlHolds(name) ? name.substr(0, 200) : "exe";
        root.writeFile(bundle + "/Contents/Info.plist",
                       plist::writeXML(plist::Value(
                           plist::Dictionary{{"CFBundleExecutable", plist::Value(executable)}})));
        const std::string path = bundle + "/Contents/MacOS/" + executable;
        root.writeFile(path, bundle::testing::fatMachO({"ppc", "i386"}, 5000));
        sizes[path] = static_cast<std::int64_t>(root.readFile(path)->size());
    }

    Stream s =
        split(cleaning_test::runOperation(root, cleaning_test::request("KVXAECleanBinariesAuthExec",
                                                                       {"UserApplications", "ppc"}))
                  .out);
    std::int64_t freed = 0;
    for (const auto& [path, before] : sizes) {
        const std::int64_t after = static_cast<std::int64_t>(root.readFile(path)->size());
        EXPECT_LT(after, before) << plist::displayForm(path);
        freed += before - after;
    }
    // The sandbox's own applications are listed too.
    ASSERT_FALSE(s.progress.empty());
    const double n = std::stod(s.progress[0].substr(s.progress[0].find(',') + 1));
    EXPECT_GE(n, static_cast<double>(sizes.size()));
    std::vector<std::string> expected = {progress(0, n)};
    for (int i = 0; i < static_cast<int>(n); ++i) expected.push_back(progress(i, n));
    EXPECT_EQ(s.progress, expected);
    EXPECT_EQ(s.text.size(), sizes.size() + 1);  // "Scanning" and one "Stripping" each
    ASSERT_EQ(s.records.size(), 1u);
    EXPECT_EQ(totalOf(s.records[0]), freed);
}

TEST_F(HostileNames, TrashesOfHomeAndVolumesAreEmptied) {
    plant("/private/var/root/.Trash", "", true);  // the home folder, without its link
    plant("/Volumes/Data/.Trashes/0", "", true);
    plist::Dictionary r = executor_test::request("KVXAEForceSecureEmptyTrashAuthExec");
    r["MountPoint"] = plist::Value(plist::Array{plist::Value("/Volumes/Data")});
    Stream s = runAndCheck(r);
    EXPECT_EQ(s.text,
              (std::vector<std::string>{"\tRemoving contents of /var/root/.Trash",
                                        "\tRemoving contents of /Volumes/Data/.Trashes/0"}));
    EXPECT_TRUE(s.progress.empty());
    EXPECT_TRUE(s.records.empty());
}

TEST_F(HostileNames, PreferenceFilesMoveWhateverTheirNames) {
    // A request is a property list: it can name only what XML holds.
    const std::string holding =
        "/var/root/Library/Application Support/Varno/"
        "DisabledPreferenceFiles/User";
    root.mkdirs(holding);
    plist::Array paths;
    for (const std::string& name : hostileNames()) {
        if (!xmlHolds(name)) continue;
        const std::string path = "/Library/Preferences/" + name.substr(0, 240) + ".plist";
        root.writeFile(path, "prefs");
        planted.push_back(path);
        paths.push_back(plist::Value(path));
    }
    plist::Dictionary r = executor_test::request("KVXAEDisablePreferenceFilesAuthExec");
    r["KVXAEFilesDisablePreferenceFilesExecutorConfigurationKey"] = plist::Value(paths);
    RunResult run = cleaning_test::runOperation(root, r);
    EXPECT_EQ(run.exitStatus, 0);
    Stream s = split(run.out);
    EXPECT_EQ(s.text.size(), planted.size());
    ASSERT_EQ(s.records.size(), 1u);
    const plist::Value* moved =
        s.records[0].find("KVXAEDisabledFilesDisablePreferenceFilesExecutorDidEndInfoKey");
    ASSERT_TRUE(moved && moved->asArray());
    EXPECT_EQ(*moved->asArray(), paths);
    for (const std::string& path : planted) {
        EXPECT_FALSE(root.exists(path)) << plist::displayForm(path);
        EXPECT_EQ(root.readFile(holding + path.substr(path.rfind('/'))), "prefs");
    }
}

// --- Processes ---------------------------------------------------------------

struct QueryRun {
    int status = -1;
    std::string out;
    long peakKiB = 0;
};

QueryRun runQuery() {
    std::string input = executor_test::frame(executor_test::rootAuthorizationForm(),
                                             executor_test::request("KVXAEQueryProcessesAuthExec"));
    std::string program = executor_test::executorPath();
    int in[2], out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    pid_t pid = fork();
    if (pid == 0) {
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
    QueryRun run;
    char buffer[65536];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) run.out.append(buffer, n);
    close(out[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakKiB = usage.ru_maxrss;
    return run;
}

TEST(HostileProcesses, EveryProcessIsListedInABoundedWellFormedRecord) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "the executor tests run as root";
    SandboxRoot root;
    // The kernel's release (and with it the argument areas) follows the version.
    root.writeFile("/System/Library/CoreServices/SystemVersion.plist",
                   plist::writeXML(plist::Value(
                       plist::Dictionary{{"ProductVersion", plist::Value("10.6.8")}})));
    using proc_testing::Child;
    std::vector<std::unique_ptr<Child>> children;
    for (const std::string& name : hostileNames())
        children.push_back(std::make_unique<Child>(
            Child::Options{.argv = {name, "-x", name}, .env = {"E=" + name}}));
    // Argument areas near the kernel's limit, full of what the record must escape.
    for (int i = 0; i < 30; ++i) {
        std::vector<std::string> argv = {"huge"};
        for (int k = 0; k < 20; ++k) argv.push_back(std::string(95 * 1024, '&'));
        children.push_back(std::make_unique<Child>(Child::Options{.argv = argv}));
    }
    // A zombie whose kernel name is not UTF-8.
    pid_t zombie = fork();
    if (zombie == 0) {
        prctl(PR_SET_NAME, "zz\xFF\xFE\x01", 0, 0, 0);
        _exit(0);
    }
    ASSERT_GT(zombie, 0);
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(zombie), &info, WEXITED | WNOWAIT);

    QueryRun run = runQuery();
    waitpid(zombie, nullptr, 0);
    ASSERT_EQ(run.status, 0);
    Stream s = split(run.out);
    ASSERT_EQ(s.records.size(), 1u);
    EXPECT_TRUE(s.text.empty());
    const plist::Value* list = s.records[0].find("KVXAEQueryProcessesAuthExecDictionaryOutputKey");
    ASSERT_TRUE(list && list->asArray());
    std::map<std::int64_t, const plist::Value*> byPID;
    for (const plist::Value& entry : *list->asArray())
        byPID[*entry.find("PID")->asInteger()] = &entry;
    for (const auto& child : children) {
        ASSERT_EQ(byPID.count(child->pid()), 1u);
        const plist::Array& arguments = *byPID[child->pid()]->find("Arguments")->asArray();
        std::size_t kept = 0;
        for (const plist::Value& a : arguments) kept += a.asString()->size();
        EXPECT_LE(kept, 64u * 1024 + 3);
    }
    // A long argument is cut and marked, and so is a list that outgrew its share.
    const plist::Array& huge = *byPID[children.back()->pid()]->find("Arguments")->asArray();
    ASSERT_EQ(huge.size(), 17u);  // 16 of 4 KiB fill the 64 KiB
    EXPECT_EQ(*huge.front().asString(), std::string(4093, '&') + "\xE2\x80\xA6");
    EXPECT_EQ(*huge.back().asString(), "\xE2\x80\xA6");
    ASSERT_EQ(byPID.count(zombie), 1u);
    EXPECT_EQ(*byPID[zombie]->find("Command")->asString(),
              "zz\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    // 30 areas of 1.9 MB would make a record of some 285 MB; what is kept is
    // bounded, and so is the executor's memory.
    EXPECT_LT(run.out.size(), 64u << 20);
    // The sanitizer runtime keeps freed memory in quarantine, so the plain
    // build alone measures what the executor itself holds.
    if (!kAddressSanitizer) {
        EXPECT_LT(run.peakKiB, 256L * 1024) << "peak " << run.peakKiB << " KiB";
    }
}

}  // namespace
