// Root operations against a hostile user (65534) who, while each runs,
// swaps every folder of theirs on its way with a link - to a folder
// elsewhere in the sandbox, to one outside it, and to "/private/etc" - in a
// tight loop (renameat2 RENAME_EXCHANGE). Whatever the timing, nothing the
// operation was not given may change, nor get another owner or mode.
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Protocol.h"
#include "Utilities.h"
#include "bundle/arch.h"
#include "bundle/machofixtures.h"
#include "host/testing.h"
#include "operations/CleanBinaries.h"
#include "operations/PreferenceFiles.h"
#include "operations/SystemSettings.h"
#include "sandbox/sandbox.h"

namespace {

using host::testing::SandboxRoot;
using host::testing::TempDir;

constexpr uid_t kEvil = 65534;
constexpr uid_t kAnn = 501;
// Each operation is run again and again for about this long.
constexpr auto kRunTime = std::chrono::seconds(3);

// Everything below a real folder: names, kinds, owners, modes, contents and
// extended attributes, as one comparable text.
std::string treeState(const std::string& folder) {
    static std::ostringstream* out;
    std::ostringstream text;
    out = &text;
    nftw(
        folder.c_str(),
        [](const char* path, const struct stat* st, int, struct FTW*) {
            *out << path << ' ' << std::oct << st->st_mode << std::dec << ' ' << st->st_uid << ':'
                 << st->st_gid << ' ' << st->st_size << ' ' << llistxattr(path, nullptr, 0);
            if (S_ISREG(st->st_mode)) *out << ' ' << std::ifstream(path).rdbuf();
            *out << '\n';
            return 0;
        },
        16, FTW_PHYS);
    return text.str();
}

// The hostile user's loop: each folder of theirs is swapped with a link to
// each target in turn, as fast as it goes, until the process is killed.
pid_t startSwapping(const std::vector<std::pair<std::string, std::vector<std::string>>>& swaps) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid != 0) return pid;
    if (setgroups(0, nullptr) != 0 || setgid(kEvil) != 0 || setuid(kEvil) != 0) _exit(1);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& [folder, targets] : swaps) {
        for (size_t i = 0; i < targets.size(); ++i) {
            std::string link = folder + ".link" + std::to_string(i);
            if (symlink(targets[i].c_str(), link.c_str()) != 0) _exit(2);
            pairs.emplace_back(folder, link);
        }
    }
    for (;;)
        for (const auto& [folder, link] : pairs) {
            renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
            renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
        }
}

// Runs fn in a child whose real user is `user` and effective user root (the
// set-user-ID executor), output discarded; returns how many rounds ran.
int runRounds(uid_t user, const std::function<void()>& round) {
    int rounds = 0;
    auto end = std::chrono::steady_clock::now() + kRunTime;
    while (std::chrono::steady_clock::now() < end) {
        fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            if (setresuid(user, 0, 0) != 0) _exit(1);
            round();
            fflush(nullptr);
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        ++rounds;
    }
    return rounds;
}

void stop(pid_t swapper) {
    kill(swapper, SIGKILL);
    int status = 0;
    waitpid(swapper, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the swapper could not start: " << status;
}

class Races : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "the attacks need root";
        sandbox::BuildOptions options;
        options.users = {"ann:501", "evil:65534"};
        sandbox::build(root, options);
        chmod(outside.path().c_str(), 0755);
    }

    // Gives a real path to the hostile user.
    void give(const std::string& machinePath) const {
        ASSERT_EQ(chown(root.real(machinePath).c_str(), kEvil, kEvil), 0) << machinePath;
    }

    // Victims: the same relative files in a folder elsewhere in the sandbox,
    // in one outside it, and in the sandbox's "/private/etc". Returns the
    // link targets, relative where they must stay inside the sandbox.
    std::vector<std::string> plantVictims(const std::string& from, const std::string& relative,
                                          const std::string& content) {
        root.writeFile("/private/var/folders/victim/" + relative, content, 0600);
        std::string out = outside.path() + "/" + relative;
        std::string folder = out.substr(0, out.rfind('/'));
        host::testing::RunOptions o;
        o.argv = {"/bin/mkdir", "-p", folder};
        host::testing::run(o);
        std::ofstream(out) << content;
        root.writeFile("/private/etc/" + relative, content, 0600);
        std::string up;
        for (char c : from)
            if (c == '/') up += "../";
        up = up.substr(3);  // the link sits in the folder holding `from`
        return {up + "private/var/folders/victim", outside.path(), up + "private/etc"};
    }

    std::string victimsState() const {
        return treeState(root.real("/private/var/folders/victim")) + treeState(outside.path()) +
               treeState(root.real("/private/etc"));
    }

    SandboxRoot root;
    TempDir outside;
};

TEST_F(Races, EmptyingAVolumesTrash) {
    root.mkdirs("/Volumes/Evil/.Trashes/65534");
    for (const char* p :
         {"/Volumes/Evil", "/Volumes/Evil/.Trashes", "/Volumes/Evil/.Trashes/65534"})
        give(p);
    auto targets = plantVictims("/Volumes/Evil/.Trashes", "65534/kept", "victim");
    auto volumeTargets = plantVictims("/Volumes/Evil", ".Trashes/65534/kept", "victim");
    const std::string before = victimsState();
    pid_t swapper = startSwapping({{root.real("/Volumes/Evil/.Trashes"), targets},
                                   {root.real("/Volumes/Evil"), volumeTargets}});
    plist::Dictionary request;
    request["MountPoint"] = plist::Value(plist::Array{plist::Value(std::string("/Volumes/Evil"))});
    request["ForceSecureEmptyTrashDeletionMethod"] = plist::Value::integer(1);
    int rounds = runRounds(kEvil, [&] { forceSecureEmptyTrash(request); });
    stop(swapper);
    EXPECT_GT(rounds, 0);
    RecordProperty("rounds", rounds);
    EXPECT_EQ(victimsState(), before);
}

TEST_F(Races, DisablingAndRestoringPreferenceFiles) {
    const std::string prefs = "/Users/evil/Library/Preferences";
    const std::string held =
        "/Users/ann/Library/Application Support/Varno/DisabledPreferenceFiles/User/"
        "com.apple.loginwindow.plist";
    root.mkdirs("/Users/ann/Library/Application Support/Varno/DisabledPreferenceFiles/User");
    root.writeFile("/Library/Preferences/com.apple.loginwindow.plist", "machine");
    auto targets = plantVictims(prefs, "com.apple.loginwindow.plist", "victim");
    // The machine's own preferences are a target too.
    targets.push_back("../../../Library/Preferences");
    const std::string before = victimsState() + treeState(root.real("/Library/Preferences"));
    const std::string file = root.writeFile(prefs + "/com.apple.loginwindow.plist", "hook");
    ASSERT_EQ(chown(file.c_str(), kEvil, kEvil), 0);
    pid_t swapper = startSwapping({{root.real(prefs), targets}});
    plist::Dictionary disable, restore;
    disable["KVXAEFilesDisablePreferenceFilesExecutorConfigurationKey"] =
        plist::Value(plist::Array{plist::Value(prefs + "/com.apple.loginwindow.plist")});
    restore["KVXAEFilesRestorePreferenceFilesExecutorConfigurationKey"] =
        plist::Value(plist::Array{plist::Value(held)});
    int rounds = runRounds(kAnn, [&] {
        disablePreferenceFiles(disable);
        restorePreferenceFiles(restore);
    });
    stop(swapper);
    EXPECT_GT(rounds, 0);
    RecordProperty("rounds", rounds);
    EXPECT_EQ(victimsState() + treeState(root.real("/Library/Preferences")), before);
}

TEST_F(Races, SettingVisibility) {
    {
        // User extended attributes are what SetFile changes; some file
        // systems keep none.
        std::string probe = root.writeFile("/probe", "");
        if (setxattr(probe.c_str(), "user.probe", "1", 1, 0) != 0)
            GTEST_SKIP() << "no user extended attributes here";
    }
    root.mkdirs("/Users/evil/Documents/dir");
    give("/Users/evil/Documents/dir");
    root.writeFile("/Users/evil/Documents/dir/file", "mine");
    auto targets = plantVictims("/Users/evil/Documents/dir", "file", "victim");
    const std::string before = victimsState();
    pid_t swapper = startSwapping({{root.real("/Users/evil/Documents/dir"), targets}});
    utilities_seams::resourcesFolder = host::testing::bundlePath("Contents/Resources");
    plist::Dictionary hide;
    hide["KVXAEFilesShowHideFilesExecutorConfigurationKey"] =
        plist::Value(plist::Array{plist::Value(std::string("/Users/evil/Documents/dir/file"))});
    // Run as root itself: nothing of the user's rights stands in the way.
    int rounds = runRounds(0, [&] { setFileVisibility(hide); });
    utilities_seams::resourcesFolder.clear();
    stop(swapper);
    EXPECT_GT(rounds, 0);
    RecordProperty("rounds", rounds);
    EXPECT_EQ(victimsState(), before);
}

TEST_F(Races, SlimmingABundleAUserCanWrite) {
    root.writeFile(bundle::kHostArchFile, "i386");
    // A lipo that opens its output the ordinary way, through whatever its
    // path names when it gets there; its copy is the input itself, so every
    // round finds a universal executable again.
    root.writeFile("/usr/bin/lipo",
                   "#!/bin/sh\n"
                   "if [ \"$1\" = -info ]; then\n"
                   "  echo \"Architectures in the fat file: $2 are: ppc i386 \"; exit 0\n"
                   "fi\n"
                   "id -u >> \"${VARNO_SYSTEM_ROOT:?}/private/tmp/lipo-runs\"\n"
                   "cat \"${VARNO_SYSTEM_ROOT:?}$3\" > \"${VARNO_SYSTEM_ROOT:?}$5\"\n",
                   0755);
    const std::string app = "/Applications/Stuff/Evil.app";
    const std::string exe = app + "/Contents/MacOS/Evil";
    plist::Dictionary info;
    info["CFBundleExecutable"] = plist::Value(std::string("Evil"));
    root.writeFile(app + "/Contents/Info.plist", plist::writeXML(plist::Value(info)));
    root.writeFile(exe, bundle::testing::fatMachO({"ppc", "i386"}), 0755);
    for (const std::string& p : {std::string("/Applications/Stuff"), app, app + "/Contents",
                                 app + "/Contents/MacOS", exe, app + "/Contents/Info.plist"})
        give(p);
    auto macosTargets = plantVictims(app + "/Contents/MacOS", "Evil.slimmed", "victim");
    auto appTargets = plantVictims(app, "Contents/MacOS/Evil.slimmed", "victim");
    const std::string before = victimsState();
    pid_t swapper = startSwapping(
        {{root.real(app + "/Contents/MacOS"), macosTargets}, {root.real(app), appTargets}});
    plist::Dictionary request;
    request["UserApplications"] = plist::Value::boolean(true);
    request["ppc"] = plist::Value::boolean(true);
    int rounds = runRounds(0, [&] { cleanBinaries(request); });
    stop(swapper);
    EXPECT_GT(rounds, 0);
    RecordProperty("rounds", rounds);
    EXPECT_EQ(victimsState(), before);
    // Whenever lipo ran, it ran with the bundle owner's rights. (A round that
    // met a link was refused before lipo; a slow build may meet one in every
    // round, so that lipo runs at all is shown by the slimming tests.)
    std::string users = root.readFile("/private/tmp/lipo-runs").value_or("");
    RecordProperty("lipo runs", static_cast<int>(users.size() / 6));
    for (size_t at; (at = users.find("65534\n")) != std::string::npos;) users.erase(at, 6);
    EXPECT_EQ(users, "");
}

}  // namespace
