// Disabling and restoring preference files, on sandbox roots: as the
// set-user-ID executor started by a user (in a child of this process), and
// through the executor program.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "Protocol.h"
#include "executor_harness.h"
#include "host/testing.h"
#include "operations/PreferenceFiles.h"
#include "sandbox/sandbox.h"

namespace {

using host::testing::RunResult;
using host::testing::SandboxRoot;

constexpr uid_t kAnn = 501;
const std::string kHome = "/Users/ann";
const std::string kHolding = kHome + "/Library/Application Support/Varno/DisabledPreferenceFiles";
const std::string kHeldLocal = kHolding + "/Local/ann";
const std::string kHeldUser = kHolding + "/User";

constexpr const char* kDisableKey = "KVXAEFilesDisablePreferenceFilesExecutorConfigurationKey";
constexpr const char* kRestoreKey = "KVXAEFilesRestorePreferenceFilesExecutorConfigurationKey";

struct Record {
    std::vector<std::string> moved;
    std::vector<std::string> failed;
    std::map<std::string, int> errors;
};

plist::Array strings(const std::vector<std::string>& items) {
    plist::Array out;
    for (const std::string& s : items) out.emplace_back(s);
    return out;
}

std::string disableRecord(const Record& r) {
    plist::Dictionary d;
    d["KVXAEDictionaryIdentifierAuthExecOutputIdentifier"] =
        plist::Value("KVXAEResultsDisablePreferenceFilesAuthExecDictionaryOutputKey");
    d["KVXAEDisabledFilesDisablePreferenceFilesExecutorDidEndInfoKey"] = strings(r.moved);
    d["KVXAEErrorFilesDisablePreferenceFilesExecutorDidEndInfoKey"] = strings(r.failed);
    plist::Dictionary errors;
    for (const auto& [path, code] : r.errors) errors[path] = plist::Value::integer(code);
    d["KVXAEFileErrorsDisablePreferenceFilesExecutorDidEndInfoKey"] = errors;
    return plist::writeXML(plist::Value(d));
}

std::string restoreRecord(const Record& r) {
    plist::Dictionary d;
    d["KVXAEDictionaryIdentifierAuthExecOutputIdentifier"] =
        plist::Value("KVXAEResultsRestorePreferenceFilesAuthExecDictionaryOutputKey");
    d["KVXAERestoredFilesRestorePreferenceFilesExecutorDidEndInfoKey"] = strings(r.moved);
    d["KVXAEErrorFilesRestorePreferenceFilesExecutorDidEndInfoKey"] = strings(r.failed);
    plist::Dictionary errors;
    for (const auto& [path, code] : r.errors) errors[path] = plist::Value::integer(code);
    d["KVXAEFileErrorsRestorePreferenceFilesExecutorDidEndInfoKey"] = errors;
    return plist::writeXML(plist::Value(d));
}

plist::Dictionary request(const char* identifier, const char* key,
                          const std::vector<std::string>& paths, bool debug = false) {
    plist::Dictionary d = executor_test::request(identifier, debug);
    d[key] = strings(paths);
    return d;
}

std::string moving(const std::string& from, const std::string& to) {
    return "\tMoving " + from + " to " + to + "...\n";
}

// Runs the operation as the set-user-ID executor does when `user` starts
// it (real user the caller, effective user root) and returns its output.
std::string runAsInvokingUser(int (*operation)(const plist::Dictionary&),
                              const plist::Dictionary& parameters, uid_t user) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (dup2(fds[1], STDOUT_FILENO) < 0 || setresuid(user, 0, 0) != 0) _exit(120);
        setvbuf(stdout, nullptr, _IONBF, 0);
        int status = operation(parameters);
        fflush(nullptr);
        _exit(status == 0 ? 0 : 121);
    }
    close(fds[1]);
    std::string out;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, size_t(n));
    close(fds[0]);
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    return out;
}

class PreferenceFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to act as a user";
        sandbox::BuildOptions options;
        options.users = {"ann:501", "evil:65534"};
        sandbox::build(root, options);
        root.mkdirs(kHeldLocal);
        root.mkdirs(kHeldUser);
    }

    std::string disable(const std::vector<std::string>& paths) {
        return runAsInvokingUser(disablePreferenceFiles,
                                 request("KVXAEDisablePreferenceFilesAuthExec", kDisableKey, paths),
                                 kAnn);
    }
    std::string restore(const std::vector<std::string>& paths) {
        return runAsInvokingUser(restorePreferenceFiles,
                                 request("KVXAERestorePreferenceFilesAuthExec", kRestoreKey, paths),
                                 kAnn);
    }

    SandboxRoot root;
};

TEST_F(PreferenceFiles, DisableHoldsEachFileByWhereItsPathSaysItCameFrom) {
    const std::string own = kHome + "/Library/Preferences/com.example.editor.plist";
    // A machine-wide file whose name happens to hold "ann" counts as the user's.
    const std::string joanna = "/Library/Preferences/com.joanna.tools.plist";
    const std::string machine = "/Library/Preferences/com.apple.alf.plist";
    root.writeFile(own, "own");
    root.writeFile(joanna, "joanna");
    root.writeFile(machine, "machine");

    std::string out = disable({own, joanna, machine});

    EXPECT_EQ(out, moving(own, kHeldLocal + "/com.example.editor.plist") +
                       moving(joanna, kHeldLocal + "/com.joanna.tools.plist") +
                       moving(machine, kHeldUser + "/com.apple.alf.plist") +
                       disableRecord({{own, joanna, machine}, {}, {}}));
    EXPECT_FALSE(root.exists(own));
    EXPECT_FALSE(root.exists(joanna));
    EXPECT_FALSE(root.exists(machine));
    EXPECT_EQ(root.readFile(kHeldLocal + "/com.joanna.tools.plist"), "joanna");
    EXPECT_EQ(root.readFile(kHeldUser + "/com.apple.alf.plist"), "machine");

    // Each held file goes back where it came from, whatever part holds it.
    const std::string held = kHeldLocal + "/com.joanna.tools.plist";
    const std::string heldMachine = kHeldUser + "/com.apple.alf.plist";
    out = restore({held, heldMachine});
    EXPECT_EQ(out, moving(held, joanna) + moving(heldMachine, machine) +
                       restoreRecord({{held, heldMachine}, {}, {}}));
    EXPECT_EQ(root.readFile(joanna), "joanna");
    EXPECT_EQ(root.readFile(machine), "machine");
    EXPECT_FALSE(root.exists(kHome + "/Library/Preferences/com.joanna.tools.plist"));
}

// The origins record sits beside the holding folder; one where earlier
// builds put it is still believed, and a file whose origin cannot be
// recorded is not moved.
TEST_F(PreferenceFiles, OriginsAreRecordedBesideTheHoldingFolderOrTheFileStays) {
    const std::string support = kHome + "/Library/Application Support";
    const std::string record = support + "/Varno/DisabledPreferenceFiles.plist";
    const std::string joanna = "/Library/Preferences/com.joanna.tools.plist";
    const std::string held = kHeldLocal + "/com.joanna.tools.plist";
    root.writeFile(joanna, "joanna");
    disable({joanna});
    ASSERT_TRUE(root.exists(record));
    EXPECT_NE(root.readFile(record)->find(joanna), std::string::npos);

    // Moved to where earlier builds kept it, it still sends the file home.
    ASSERT_EQ(rename(root.real(record).c_str(),
                     root.real(support + "/VarnoDisabledPreferenceFiles.plist").c_str()),
              0);
    EXPECT_EQ(restore({held}), moving(held, joanna) + restoreRecord({{held}, {}, {}}));
    EXPECT_EQ(root.readFile(joanna), "joanna");
    EXPECT_FALSE(root.exists(support + "/VarnoDisabledPreferenceFiles.plist"));

    ASSERT_EQ(unlink(root.real(record).c_str()), 0);
    root.mkdirs(record + "/in-the-way");
    EXPECT_EQ(disable({joanna}),
              moving(joanna, held) + "\t***Error: " + joanna +
                  " could not have its origin recorded (Is a directory); it was left where it "
                  "is.\n" + disableRecord({{}, {joanna}, {{joanna, -5000}}}));
    EXPECT_EQ(root.readFile(joanna), "joanna");
}

// What a user without rights tries when the administrator disables and
// restores their files: each attempt is refused, per file, with a message.
TEST_F(PreferenceFiles, AUsersFilesNeverReachTheMachinesPreferences) {
    const std::string evilPrefs = "/Users/evil/Library/Preferences";
    const std::string login = "/Library/Preferences/com.apple.loginwindow.plist";
    root.writeFile(login, "machine");
    const std::string evils = root.writeFile(evilPrefs + "/com.apple.loginwindow.plist", "hook");
    ASSERT_EQ(chown(evils.c_str(), 65534, 20), 0);
    ASSERT_EQ(chown(root.real(evilPrefs).c_str(), 65534, 20), 0);

    // Disabled, held under the machine part, restored: it goes back to evil.
    disable({evilPrefs + "/com.apple.loginwindow.plist"});
    const std::string held = kHeldUser + "/com.apple.loginwindow.plist";
    ASSERT_EQ(root.readFile(held), "hook");
    EXPECT_EQ(restore({held}), moving(held, evilPrefs + "/com.apple.loginwindow.plist") +
                                   restoreRecord({{held}, {}, {}}));
    EXPECT_EQ(root.readFile(login), "machine");

    // Without a record (or with a forged one), a file not root's never goes
    // to the machine's preferences; a held folder never replaces one.
    const std::string planted = root.writeFile(held, "hook");
    ASSERT_EQ(chown(planted.c_str(), 65534, 20), 0);
    const std::string folder = kHeldUser + "/SystemConfiguration";
    root.writeFile(folder + "/x.plist", "evil's");
    root.writeFile("/Library/Preferences/SystemConfiguration/preferences.plist", "machine");
    std::string out = restore({held, folder});
    EXPECT_EQ(out, moving(held, login) + "\t***Error: " + held +
                       " is not owned by the owner of /Library/Preferences; it was left where it "
                       "is.\n" +
                       moving(folder, "/Library/Preferences/SystemConfiguration") +
                       "\t***Error: " + folder +
                       " would replace the folder /Library/Preferences/SystemConfiguration; it was "
                       "left where it is.\n" +
                       restoreRecord({{}, {held, folder}, {{held, -5000}, {folder, -5000}}}));
    EXPECT_EQ(root.readFile(login), "machine");
    EXPECT_EQ(root.readFile("/Library/Preferences/SystemConfiguration/preferences.plist"),
              "machine");

    // evil's folder made a link to the machine's: nothing is taken from there.
    host::testing::removeTree(root.real(evilPrefs));
    ASSERT_EQ(symlink("../../../Library/Preferences", root.real(evilPrefs).c_str()), 0);
    const std::string viaLink = evilPrefs + "/com.apple.loginwindow.plist";
    out = disable({viaLink});
    EXPECT_EQ(out, moving(viaLink, kHeldUser + "/com.apple.loginwindow.plist") + "\t***Error: " +
                       viaLink + " is reached through a link; it was left where it is.\n" +
                       disableRecord({{}, {viaLink}, {{viaLink, -5000}}}));
    EXPECT_EQ(root.readFile(login), "machine");
}

TEST_F(PreferenceFiles, DisableNeverReplacesAHeldFileAndReportsEachFailure) {
    const std::string held = "/Library/Preferences/com.example.held.plist";
    const std::string fine = "/Library/Preferences/com.example.fine.plist";
    const std::string missing = "/Library/Preferences/com.example.missing.plist";
    root.writeFile(held, "new");
    root.writeFile(kHeldUser + "/com.example.held.plist", "old");
    root.writeFile(fine, "fine");

    std::string out = disable({held, missing, fine, "/"});

    EXPECT_EQ(out,
              moving(held, kHeldUser + "/com.example.held.plist") +
                  "\t***Error: A file named com.example.held.plist already exists at the "
                  "path " +
                  kHeldUser +
                  "/com.example.held.plist.\n"
                  "\tManually backup the old file and try again.\n" +
                  moving(missing, kHeldUser + "/com.example.missing.plist") +
                  "\t***Error -43 moving " + missing + "\n" +
                  moving(fine, kHeldUser + "/com.example.fine.plist") +
                  "\tError: Count not create destination path with for source path /\n" +
                  disableRecord({{fine}, {held, missing, "/"}, {{held, -48}, {missing, -43}}}));
    EXPECT_EQ(root.readFile(held), "new");
    EXPECT_EQ(root.readFile(kHeldUser + "/com.example.held.plist"), "old");
}

TEST_F(PreferenceFiles, DisableDoesNotCreateTheHoldingFolder) {
    host::testing::removeTree(root.real(kHolding));
    const std::string file = "/Library/Preferences/com.example.plist";
    root.writeFile(file, "x");

    std::string out = disable({file});

    EXPECT_EQ(out, moving(file, kHeldUser + "/com.example.plist") + "\t***Error -120 moving " +
                       file + "\n" + disableRecord({{}, {file}, {{file, -120}}}));
    EXPECT_TRUE(root.exists(file));
    EXPECT_FALSE(root.exists(kHolding));
}

TEST_F(PreferenceFiles, RestoreReplacesTheCurrentFileAndGoesOnAfterAFailure) {
    const std::string gone = kHeldUser + "/com.example.gone.plist";
    const std::string held = kHeldUser + "/com.example.app.plist";
    root.writeFile(held, "held");
    root.writeFile("/Library/Preferences/com.example.app.plist", "current");

    std::string out = restore({gone, held});

    EXPECT_EQ(out, moving(gone, "/Library/Preferences/com.example.gone.plist") +
                       "\tError -43 moving " + gone + "\n" +
                       moving(held, "/Library/Preferences/com.example.app.plist") +
                       restoreRecord({{held}, {gone}, {{gone, -43}}}));
    EXPECT_EQ(root.readFile("/Library/Preferences/com.example.app.plist"), "held");
    EXPECT_FALSE(root.exists(held));
}

// Through the executor program, run by root: root's home folder holds the
// files, and debug mode changes nothing.
class PreferenceFilesExecutor : public ::testing::Test {
  protected:
    void SetUp() override { sandbox::build(root); }
    SandboxRoot root;
};

TEST_F(PreferenceFilesExecutor, EmptyRequestsGiveEmptyRecords) {
    for (bool absent : {false, true}) {
        plist::Dictionary disable = request("KVXAEDisablePreferenceFilesAuthExec", kDisableKey, {});
        plist::Dictionary restore = request("KVXAERestorePreferenceFilesAuthExec", kRestoreKey, {});
        if (absent) {
            disable.erase(kDisableKey);
            restore.erase(kRestoreKey);
        }
        std::string form = executor_test::rootAuthorizationForm();
        RunResult r = executor_test::runExecutor(executor_test::frame(form, disable));
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, disableRecord({}));
        r = executor_test::runExecutor(executor_test::frame(form, restore));
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, restoreRecord({}));
    }
}

TEST_F(PreferenceFilesExecutor, DebugModeStillMovesTheFiles) {
    const std::string part =
        "/var/root/Library/Application Support/Varno/DisabledPreferenceFiles/User";
    root.mkdirs(part);
    const std::string file = "/Library/Preferences/com.example.plist";
    root.writeFile(file, "x");

    RunResult r = executor_test::runExecutor(executor_test::frame(
        executor_test::rootAuthorizationForm(),
        request("KVXAEDisablePreferenceFilesAuthExec", kDisableKey, {file}, true)));

    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, moving(file, part + "/com.example.plist") + disableRecord({{file}, {}, {}}));
    EXPECT_EQ(root.readFile(part + "/com.example.plist"), "x");
    EXPECT_FALSE(root.exists(file));
}

}  // namespace
