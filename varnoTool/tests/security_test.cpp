// Attacks on the installed executor: set-user-ID root in its own folder, run
// by an unprivileged user (65534) and by that user as an administrator.
// Nothing a caller controls - its authorization form, environment,
// descriptors, umask, argument vector or request document - may turn the
// root process against the machine.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "executor_harness.h"
#include "sandbox/sandbox.h"

using namespace executor_test;
using host::testing::RunResult;
using host::testing::SandboxRoot;
using host::testing::TempDir;

namespace {

constexpr uid_t kNobody = 65534;

using host::testing::kAddressSanitizer;

// Every identifier the dispatcher knows, each with keys that would make its
// operation change something.
plist::Dictionary hostileRequest(const std::string& identifier) {
    plist::Dictionary d = request(identifier);
    for (const char* key :
         {"UserFonts", "UserSpotlight", "SystemTemporaryItems", "SystemBoot", "SystemCUPS",
          "UserConsole", "SystemSystem", "UserApplications", "SystemApplications"}) {
        d[key] = plist::Value::boolean(true);
    }
    d["MountPoint"] = plist::Value(std::string("/"));
    d["UserName"] = plist::Value(std::string("root"));
    return d;
}

class ExecutorSecurity : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "the attacks need root";
        sandbox::BuildOptions options;
        options.users = {"ann"};
        sandbox::build(sandbox_, options);
        installed_ = std::make_unique<InstalledExecutor>(sandbox_, 0, 04755);
        // Root's own authorization first: it makes the record store.
        rootForm_ = rootAuthorizationForm();
        userForm_ = formOfUser(kNobody);
    }

    RunResult asAdmin(const std::string& input) const {
        return installed_->runAs(kNobody, {adminGroup()}, input);
    }

    SandboxRoot sandbox_;
    std::unique_ptr<InstalledExecutor> installed_;
    std::string rootForm_;
    std::string userForm_;
};

TEST_F(ExecutorSecurity, WithoutTheRightEveryOperationIsRefusedAndNothingChanges) {
    // Things the cleaning operations would delete, so that a slip shows.
    sandbox_.writeFile("/Library/Caches/com.apple.ATS/annex", "x");
    sandbox_.writeFile("/private/tmp/left-by-someone", "x");
    const sandbox::TreeSnapshot before = sandbox::snapshotTree(sandbox_);
    for (const std::string& identifier : operationIdentifiers()) {
        RunResult r = installed_->runAs(kNobody, {}, frame(userForm_, hostileRequest(identifier)));
        EXPECT_EQ(r.out, "Error -60005 authorizing.") << identifier;
        EXPECT_EQ(r.exitStatus, static_cast<std::uint8_t>(-60005)) << identifier;
    }
    EXPECT_EQ(sandbox::snapshotTree(sandbox_), before);
    EXPECT_TRUE(sandbox::readJournal(sandbox_).empty());
}

// The record of a form lives in the store under its handle; rewriting its
// creation time is how a test ages it.
void ageEveryRecord(const SandboxRoot& sandbox, long seconds) {
    const std::string store = sandbox.real("/private/var/db/kvx-auth");
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(store)) {
        ++found;
        int fd = open(entry.path().c_str(), O_WRONLY | O_TRUNC);
        ASSERT_GE(fd, 0);
        std::string text = std::to_string(time(nullptr) - seconds) + "\n";
        ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
    }
    ASSERT_EQ(found, 2);  // root's and the caller's
}

TEST_F(ExecutorSecurity, FormsThatAreNotTheCallersOwnLiveOnesEndWith18) {
    const std::string document = plist::writeXML(plist::Value(request("KVXAESetuidrootAuthExec")));
    std::string random(32, '\0');
    std::ifstream("/dev/urandom").read(random.data(), 32);
    std::string cut = userForm_;
    std::fill(cut.begin() + 16, cut.end(), '\0');  // only the first half of a real handle
    for (const std::string& form : {random, cut, rootForm_, std::string(32, '\0')}) {
        RunResult r = asAdmin(frame(form, document));
        EXPECT_EQ(r.exitStatus, 18) << r.out;
    }
    // The caller's own form works until it has lived 12 hours.
    EXPECT_EQ(asAdmin(frame(userForm_, document)).exitStatus, 0);
    ageEveryRecord(sandbox_, 12 * 3600 + 1);
    RunResult r = asAdmin(frame(userForm_, document));
    EXPECT_EQ(r.exitStatus, 18) << r.out;
    // Fewer than 32 bytes is a failed read, before any form is looked at.
    r = asAdmin(userForm_.substr(0, 20));
    EXPECT_EQ(r.exitStatus, 17) << r.out;
}

// The font cleaning runs the font server utility three times, as root and as the
// caller. Its stand-in here writes down what it was handed.
constexpr const char* kRevealingTool = R"SH(#!/bin/sh
out="$VARNO_SANDBOX_ROOT/private/tmp/seen-$(id -u)-$$"
{
    echo "umask $(umask)"
    for fd in /proc/$$/fd/*; do echo "fd ${fd##*/} $(readlink "$fd")"; done
    env | LC_ALL=C sort
} > "$out"
)SH";

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> revealed(const SandboxRoot& sandbox) {
    std::vector<std::string> seen;
    for (const auto& e : std::filesystem::directory_iterator(sandbox.real("/private/tmp"))) {
        if (e.path().filename().string().rfind("seen-", 0) == 0) {
            seen.push_back(readAll(e.path()));
            std::filesystem::remove(e.path());
        }
    }
    return seen;
}

TEST_F(ExecutorSecurity, TheCallersEnvironmentDescriptorsAndUmaskDoNotReachTheRootSide) {
    sandbox_.writeFile("/usr/libexec/varno-sandbox/atsutil", kRevealingTool, 0755);
    TempDir attacker;
    const std::string marker = attacker.path() + "/loaded";
    const std::string secret = attacker.path() + "/caller-secret";
    std::ofstream(secret) << "x";
    chmod(attacker.path().c_str(), 0777);
    const std::string bashEnv = attacker.path() + "/bash_env";
    std::ofstream(bashEnv) << "touch " << marker << "\n";

    plist::Dictionary fonts = request("KVXAEUserSystemCleanCachesAuthExec");
    fonts["UserFonts"] = plist::Value::boolean(true);
    const std::string input = frame(userForm_, fonts);

    RunResult plain = asAdmin(input);
    ASSERT_EQ(plain.exitStatus, 0) << plain.out;
    const std::vector<std::string> plainSeen = revealed(sandbox_);
    ASSERT_EQ(plainSeen.size(), 3u);  // three font server commands

    // The same run from a hostile caller: a library to preload, a search
    // path, conversion modules, shell start files, a temporary folder, a
    // system root of its choice, another language, a descriptor it leaves
    // open and a umask that makes files writable by all.
    const std::string hostileRun = std::string(R"(
        exec 7<")") + secret + R"("
        umask 000
        exec "$0" "$@"
    )";
    host::testing::RunOptions o;
    o.argv = {"/bin/sh", "-c", hostileRun, installed_->tool};
    o.uid = kNobody;
    o.groups = {adminGroup()};
    o.input = input;
    o.env = {{"LD_LIBRARY_PATH", attacker.path()},
             {"GCONV_PATH", attacker.path()},
             {"PATH", attacker.path() + ":/usr/bin:/bin"},
             {"IFS", "/"},
             {"BASH_ENV", bashEnv},
             {"ENV", bashEnv},
             {"TMPDIR", attacker.path()},
             {"VARNO_SYSTEM_ROOT", attacker.path()},
             {"VARNO_ENV_MARKER_FILE", marker},
             {"LANG", "de_DE.UTF-8"},
             {"LC_ALL", "de_DE.UTF-8"},
             {"LC_NUMERIC", "de_DE.UTF-8"},
             {"KVX_AUTHORIZATION_REFERENCE", "caller-chosen"}};
    if (!kAddressSanitizer) o.env["LD_PRELOAD"] = std::getenv("VARNO_ENV_MARKER");
    RunResult hostile = host::testing::run(o);
    EXPECT_EQ(hostile.exitStatus, 0) << hostile.out << hostile.err;
    EXPECT_EQ(hostile.out, plain.out);
    EXPECT_FALSE(std::filesystem::exists(marker)) << readAll(marker);

    std::vector<std::string> seen = revealed(sandbox_);
    ASSERT_EQ(seen.size(), 3u);
    for (const std::string& s : seen) {
        EXPECT_NE(s.find("umask 0022\n"), std::string::npos) << s;
        EXPECT_EQ(s.find("caller-secret"), std::string::npos) << s;
        EXPECT_EQ(s.find(attacker.path()), std::string::npos) << s;
        for (const char* name : {"LD_", "GCONV", "IFS=", "BASH_ENV", "ENV=", "TMPDIR", "LANG",
                                 "LC_", "VARNO_ENV_MARKER", "KVX_"}) {
            EXPECT_EQ(s.find("\n" + std::string(name)), std::string::npos) << name << "\n" << s;
        }
        EXPECT_NE(s.find("\nPATH=/usr/bin:/bin:/usr/sbin:/sbin\n"), std::string::npos) << s;
        EXPECT_NE(s.find("VARNO_SYSTEM_ROOT=" + sandbox_.path() + "\n"), std::string::npos) << s;
    }
    // Apart from process and pipe numbers, the tools saw exactly what they
    // see when a plain caller runs the same request.
    auto normalized = [](std::vector<std::string> v) {
        const std::regex numbers(R"((pipe:\[|seen-[0-9]+-)[0-9]+)");
        for (std::string& s : v) s = std::regex_replace(s, numbers, "$1N");
        std::sort(v.begin(), v.end());
        return v;
    };
    EXPECT_EQ(normalized(seen), normalized(plainSeen));
}

// Installed in a plain folder, the executor has no bundle of its own: it
// never looks for its tools under the system root, where a user could plant
// one, and refuses instead.
TEST_F(ExecutorSecurity, TheExecutorsOwnToolsAreNeverTakenFromTheSystemRoot) {
    const std::string ran = "/private/tmp/planted-ran";
    for (const std::string& where : {std::string("/private/tmp/Resources/SetFile"),
                                     installed_->dir.path() + "/Contents/Resources/SetFile"}) {
        const std::string planted = sandbox_.writeFile(
            where, "#!/bin/sh\nid -u >> \"$VARNO_SYSTEM_ROOT" + ran + "\"\n", 0755);
        ASSERT_EQ(chown(planted.c_str(), kNobody, kNobody), 0);
    }
    plist::Dictionary hide = request("KVXAESetFileVisibilityAuthExec");
    hide["KVXAEFilesShowHideFilesExecutorConfigurationKey"] =
        plist::Value(plist::Array{plist::Value(std::string("/Users/ann/file"))});

    RunResult r = asAdmin(frame(userForm_, hide));
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("\t***Error: cannot use the executor's own SetFile: ", 0), 0u) << r.out;
    EXPECT_FALSE(sandbox_.exists(ran)) << *sandbox_.readFile(ran);
}

TEST_F(ExecutorSecurity, AnEmptyArgumentVectorIsANormalInvocation) {
    const std::string input = frame(userForm_, request("NoSuchOperation"));
    TempDir dir;
    const std::string inputFile = dir.path() + "/input";
    std::ofstream(inputFile, std::ios::binary) << input;
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int in = open(inputFile.c_str(), O_RDONLY);
        int null = open("/dev/null", O_WRONLY);
        gid_t groups[] = {adminGroup()};
        if (in < 0 || null < 0 || dup2(in, 0) < 0 || dup2(null, 1) < 0 ||
            setgroups(1, groups) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
            setresuid(kNobody, kNobody, kNobody) != 0)
            _exit(120);
        char* argv[] = {nullptr};
        char* envp[] = {nullptr};
        execve(installed_->tool.c_str(), argv, envp);
        _exit(121);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    // The request was read and dispatched: the unknown identifier's status.
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

// A user racing the cleaning operations inside the world-writable folders
// they clean: folders it owns are swapped with links to places outside them
// while the root process walks and deletes.
void raceForever(const std::string& caches, const std::string& tmp, const std::string& target) {
    const std::string places[] = {caches + "/x.fontcache", caches + "/com.apple.Spotlight",
                                  caches + "/com.apple.ATS", tmp + "/d"};
    for (unsigned round = 0;; ++round) {
        for (const std::string& place : places) {
            const std::string aside = place + ".aside";
            std::error_code ec;
            // Folders the user may not write (root's own) simply stay as they are.
            std::filesystem::create_directories(place + "/sub/deeper", ec);
            std::ofstream(place + "/sub/deeper/f") << round;
            std::filesystem::remove(aside, ec);
            std::filesystem::create_directory_symlink(target, aside, ec);
            // Swap the folder and the link back and forth: whoever looks
            // between two swaps sees either.
            for (int k = 0; k < 4; ++k) {
                renameat2(AT_FDCWD, place.c_str(), AT_FDCWD, aside.c_str(), RENAME_EXCHANGE);
                const std::string inner = place + "/sub";
                const std::string innerAside = inner + ".aside";
                std::filesystem::remove(innerAside, ec);
                std::filesystem::create_directory_symlink(target, innerAside, ec);
                renameat2(AT_FDCWD, inner.c_str(), AT_FDCWD, innerAside.c_str(), RENAME_EXCHANGE);
            }
        }
    }
}

TEST_F(ExecutorSecurity, RacingLinksInTheCleanedFoldersNeverLeadOutside) {
    // Victims: a folder elsewhere in the system and one outside the root.
    sandbox_.writeFile("/private/etc/victim/keep", "keep");
    sandbox_.writeFile("/private/etc/victim/sub/deeper/f", "keep");
    TempDir outside;
    std::filesystem::create_directories(outside.path() + "/sub/deeper");
    std::ofstream(outside.path() + "/keep") << "keep";
    std::ofstream(outside.path() + "/sub/deeper/f") << "keep";
    chmod(outside.path().c_str(), 0755);
    const sandbox::TreeSnapshot victims = sandbox::snapshotTree(sandbox_);

    plist::Dictionary clean = request("KVXAEUserSystemCleanCachesAuthExec");
    for (const char* key : {"UserFonts", "UserSpotlight", "SystemTemporaryItems"})
        clean[key] = plist::Value::boolean(true);
    const std::string input = frame(userForm_, clean);

    for (const std::string& target :
         {sandbox_.real("/private/etc/victim"), outside.path(), std::string("/private/etc")}) {
        pid_t racer = fork();
        ASSERT_GE(racer, 0);
        if (racer == 0) {
            if (setresgid(kNobody, kNobody, kNobody) != 0 ||
                setresuid(kNobody, kNobody, kNobody) != 0)
                _exit(1);
            try {
                raceForever(sandbox_.real("/Library/Caches"), sandbox_.real("/private/tmp"),
                            target);
            } catch (...) {
            }
            _exit(1);
        }
        for (int run = 0; run < 15; ++run) {
            RunResult r = asAdmin(input);
            EXPECT_EQ(r.exitStatus, 0) << r.out;
        }
        kill(racer, SIGKILL);
        waitpid(racer, nullptr, 0);
    }
    const sandbox::TreeSnapshot after = sandbox::snapshotTree(sandbox_);
    for (const auto& [path, state] : victims) {
        if (path.rfind("/Library/Caches", 0) == 0 || path.rfind("/private/tmp", 0) == 0) continue;
        auto it = after.find(path);
        ASSERT_NE(it, after.end()) << path << " was removed";
        EXPECT_EQ(it->second, state) << path;
    }
    EXPECT_EQ(readAll(outside.path() + "/keep"), "keep");
    EXPECT_EQ(readAll(outside.path() + "/sub/deeper/f"), "keep");
}

struct Measured {
    int status = -1;
    double seconds = 0;
    long peakKiB = 0;
};

// Runs the executor as root on the input file with an address-space limit,
// and reports how it ended, how long it took and its peak memory. The test
// holds no large buffer while it forks, so the peak is the executor's.
Measured runBounded(const std::string& inputFile) {
    const auto start = std::chrono::steady_clock::now();
    const std::string tool = executorPath();
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(inputFile.c_str(), O_RDONLY);
        int null = open("/dev/null", O_WRONLY);
        struct rlimit limit {
            1ul << 30, 1ul << 30
        };
        if (in < 0 || null < 0 || dup2(in, 0) < 0 || dup2(null, 1) < 0 ||
            (!kAddressSanitizer && setrlimit(RLIMIT_AS, &limit) != 0))
            _exit(120);
        execl(tool.c_str(), tool.c_str(), static_cast<char*>(nullptr));
        _exit(121);
    }
    Measured m;
    int status = 0;
    struct rusage usage {};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        m.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        m.peakKiB = usage.ru_maxrss;
    }
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return m;
}

std::string hostileDocument(int which) {
    const std::string head = "<?xml version=\"1.0\"?>\n";
    std::string d = head;
    switch (which) {
        case 0:  // entity expansion: ten levels of ten references each
            d += "<!DOCTYPE plist [\n<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">\n";
            for (char c = 'b'; c <= 'k'; ++c) {
                d += std::string("<!ENTITY ") + c + " \"";
                for (int i = 0; i < 10; ++i) d += std::string("&") + static_cast<char>(c - 1) + ";";
                d += "\">\n";
            }
            d += "]>\n<plist><dict><key>KVXAEIdentifierAuthExecConfigurationKey</key>"
                 "<string>&k;</string></dict></plist>\n";
            return d;
        case 1:  // 100,000 nested arrays
            d += "<plist>";
            for (int i = 0; i < 100000; ++i) d += "<array>";
            for (int i = 0; i < 100000; ++i) d += "</array>";
            return d + "</plist>\n";
        default: {  // one string filling the largest request read (64 MiB), or more
            const std::string prefix =
                head + "<plist><dict><key>KVXAEIdentifierAuthExecConfigurationKey</key><string>";
            const std::string suffix = "</string></dict></plist>\n";
            const std::size_t cap = 64u << 20;
            const std::size_t fill = which == 2 ? cap - prefix.size() - suffix.size() : cap;
            return prefix + std::string(fill, 'a') + suffix;
        }
    }
}

TEST_F(ExecutorSecurity, HostileDocumentsAreRefusedWithinBoundedMemoryAndTime) {
    struct Case {
        const char* name;
        bool parsed;  // read whole and dispatched (unknown identifier: 7)
    } cases[] = {{"entity expansion", false},
                 {"100,000 nested arrays", false},
                 {"64 MiB document of one string", true},
                 {"more than 64 MiB", false}};
    TempDir dir;
    const std::string inputFile = dir.path() + "/input";
    for (int i = 0; i < 4; ++i) {
        const Case& c = cases[i];
        std::ofstream(inputFile, std::ios::binary | std::ios::trunc)
            << frame(rootForm_, hostileDocument(i));
        Measured m = runBounded(inputFile);
        std::printf("%-32s status %3d  %.2f s  peak %ld KiB\n", c.name, m.status, m.seconds,
                    m.peakKiB);
        if (c.parsed)
            EXPECT_EQ(m.status, 7) << c.name;
        else
            EXPECT_TRUE(m.status != 0 && m.status != 7 && m.status < 128)
                << c.name << ": " << m.status;
        EXPECT_LT(m.seconds, 20.0) << c.name;
        // The document, its parsed copy and working space: never more.
        if (!kAddressSanitizer) {
            EXPECT_LT(m.peakKiB, 4 * 64 * 1024) << c.name;
        }
    }
}

}  // namespace
