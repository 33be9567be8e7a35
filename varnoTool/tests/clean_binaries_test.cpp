// Binary slimming on real universal files in a sandbox root, through the
// executor program and the sandbox's lipo, checked with LLVM's own reader.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bundle/arch.h"
#include "bundle/machofixtures.h"
#include "executor_harness.h"
#include "host/testing.h"
#include "operations/CleanBinaries.h"
#include "plist/plist.h"
#include "sandbox/sandbox.h"

using bundle::testing::fatMachO;
using bundle::testing::llvmTool;
using bundle::testing::thinMachO;
using host::testing::RunResult;

namespace {

constexpr const char* kProgress = "KVXAEProgressUpdateAuthExecOutputIdentifier";
const std::vector<std::string> kEverything = {"ppc",   "ppc7400", "ppc970",
                                              "ppc64", "i386",    "x86_64"};

std::string progress(int done, int total) {
    char buf[128];
    snprintf(buf, sizeof buf, "%s(%d.00,%d.00)\n", kProgress, done, total);
    return buf;
}

std::string sizeRecord(std::int64_t bytes) {
    plist::Dictionary d;
    d["KVXAEDictionaryIdentifierAuthExecOutputIdentifier"] =
        plist::Value("KVXAECleanBinariesAuthExec");
    d["KVXAETotalSizeRemovedAuthExecDictionaryOutputKey"] = plist::Value::integer(bytes);
    return plist::writeXML(plist::Value(d));
}

std::string infoPlist(const std::string& executable) {
    plist::Dictionary d;
    d["CFBundleExecutable"] = plist::Value(executable);
    return plist::writeXML(plist::Value(d));
}

struct Stat {
    off_t size = -1;
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

class CleanBinaries : public ::testing::Test {
  protected:
    void SetUp() override { sandbox::build(root); }

    void playMachine(const char* arch) { root.writeFile(bundle::kHostArchFile, arch); }

    // A bundle at `folder` whose executable holds `bytes`; returns its machine path.
    std::string addBundle(const std::string& folder, const std::string& bytes, mode_t mode = 0755) {
        std::string name = folder.substr(folder.rfind('/') + 1);
        name = name.substr(0, name.rfind('.'));
        root.writeFile(folder + "/Contents/Info.plist", infoPlist(name));
        std::string exe = folder + "/Contents/MacOS/" + name;
        root.writeFile(exe, bytes, mode);
        return exe;
    }

    Stat statOf(const std::string& machinePath) {
        struct stat st {};
        Stat s;
        if (lstat(root.real(machinePath).c_str(), &st) == 0)
            s = {st.st_size, static_cast<mode_t>(st.st_mode & 07777), st.st_uid, st.st_gid};
        return s;
    }

    RunResult clean(const std::vector<std::string>& keys, bool debug = false) {
        plist::Dictionary request = executor_test::request("KVXAECleanBinariesAuthExec", debug);
        for (const std::string& k : keys) request[k] = plist::Value::boolean(true);
        return executor_test::runExecutor(
            executor_test::frame(executor_test::rootAuthorizationForm(), request));
    }

    // What LLVM's lipo lists for a file, or its complaint.
    std::string llvmArchs(const std::string& machinePath) {
        host::testing::RunOptions o;
        o.argv = {llvmTool("llvm-lipo"), root.real(machinePath), "-archs"};
        RunResult r = host::testing::run(o);
        return r.exitStatus == 0 ? r.out : "failed: " + r.err;
    }

    // The tree without what every run of the executor changes (the tool
    // journal and the authorization records).
    sandbox::TreeSnapshot snapshot() {
        return sandbox::snapshotTree(root, {sandbox::kJournalPath, "/private/var/db/kvx-auth"});
    }

    std::vector<sandbox::JournalEntry> lipoRuns() {
        std::vector<sandbox::JournalEntry> runs;
        for (auto& e : sandbox::readJournal(root)) {
            if (!e.argv.empty() && e.argv[0] == "lipo") runs.push_back(e);
        }
        return runs;
    }

    host::testing::SandboxRoot root;
};

}  // namespace

TEST_F(CleanBinaries, IntelMachineLosesThePowerPCFamilyWhereIntelCodeIsThere) {
    ASSERT_FALSE(llvmTool("llvm-lipo").empty()) << "Debian's llvm tools are missing";
    playMachine("x86_64");
    std::string big = addBundle("/Applications/Big.app", fatMachO(kEverything, 9000), 0751);
    ASSERT_EQ(chown(root.real(big).c_str(), 501, 20), 0);
    std::string two = addBundle("/Applications/Two.app", fatMachO({"ppc", "ppc970", "i386"}));
    std::string one = addBundle("/Applications/One.app", fatMachO({"ppc7400", "i386"}));
    const std::string keep = fatMachO({"ppc", "ppc64", "x86_64"});
    std::string only64 = addBundle("/Applications/Only64.app", keep);
    off_t before = statOf(big).size + statOf(two).size + statOf(one).size;

    RunResult r = clean({"UserApplications", "ppc", "i386", "x86_64"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    off_t after = statOf(big).size + statOf(two).size + statOf(one).size;

    EXPECT_EQ(
        r.out,
        "\tScanning /Applications/...\n" + progress(0, 4) +
            "\tStripping architectures ppc, ppc7400, ppc970 and ppc64 from "
            "/Applications/Big.app/Contents/MacOS/Big\n" +
            progress(0, 4) +
            "\tStripping architecture ppc7400 from /Applications/One.app/Contents/MacOS/One\n" +
            progress(1, 4) + progress(2, 4) +
            "\tStripping architectures ppc and ppc970 from "
            "/Applications/Two.app/Contents/MacOS/Two\n" +
            progress(3, 4) + sizeRecord(before - after));

    EXPECT_EQ(llvmArchs(big), "i386 x86_64 \n");
    EXPECT_EQ(llvmArchs(one), "i386 \n");
    EXPECT_EQ(llvmArchs(two), "i386 \n");
    EXPECT_EQ(root.readFile(only64), keep);
    EXPECT_FALSE(root.exists(big + ".slimmed"));

    // The slimmed executable keeps its owner and permission bits.
    Stat st = statOf(big);
    EXPECT_EQ(st.mode, 0751u);
    EXPECT_EQ(st.uid, 501u);
    EXPECT_EQ(st.gid, 20u);

    // lipo lists as the invoking user and strips as root, names in family order.
    auto runs = lipoRuns();
    ASSERT_EQ(runs.size(), 6u);
    EXPECT_EQ(runs[0].argv, (std::vector<std::string>{"lipo", "-info", big}));
    EXPECT_EQ(runs[1].euid, 0u);
    EXPECT_EQ(runs[1].argv, (std::vector<std::string>{"lipo", "-remove", "ppc", "-remove",
                                                      "ppc7400", "-remove", "ppc970", "-remove",
                                                      "ppc64", big, "-output", big + ".slimmed"}));

    RunResult headers;
    {
        host::testing::RunOptions o;
        o.argv = {llvmTool("llvm-objdump"), "--macho", "--private-headers", "--arch=all",
                  root.real(big)};
        headers = host::testing::run(o);
    }
    EXPECT_EQ(headers.exitStatus, 0) << headers.err;
    EXPECT_NE(headers.out.find("(architecture i386)"), std::string::npos) << headers.out;
    EXPECT_NE(headers.out.find("(architecture x86_64)"), std::string::npos) << headers.out;
    EXPECT_EQ(headers.out.find("PPC"), std::string::npos) << headers.out;
}

TEST_F(CleanBinaries, PowerPCMachineLosesIntelCodeButNeverItsOwn) {
    playMachine("ppc7400");
    std::string app =
        addBundle("/Applications/Uni.app", fatMachO({"ppc", "ppc7400", "i386", "x86_64"}));
    // Both Intel removals are decided on the list read first; the second
    // would leave nothing, so lipo refuses and the first result stays.
    std::string intel = addBundle("/Applications/Intel.app", fatMachO({"i386", "x86_64"}));
    // A file left at the slimmed copy's name by an earlier run never takes
    // the executable's place when lipo fails.
    const std::string solo = fatMachO({"x86_64"});
    std::string soloExe = addBundle("/Applications/Solo.app", solo);
    root.writeFile(soloExe + ".slimmed", "stale");
    const off_t intelBefore = statOf(intel).size;
    const off_t appBefore = statOf(app).size;

    RunResult r = clean({"UserApplications", "ppc", "i386", "x86_64"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    off_t saved = (appBefore - statOf(app).size) + (intelBefore - statOf(intel).size);
    auto refused = [](const std::string& exe) {
        return "*** Error 1 stripping " + exe + " with lipo: \n" +
               "\t*** Error: no slimmed copy of " + exe + "; the executable is left as it was.\n";
    };
    EXPECT_EQ(r.out, "\tScanning /Applications/...\n" + progress(0, 3) +
                         "\tStripping architecture i386 from " + intel + "\n" +
                         "\tStripping architecture x86_64 from " + intel + "\n" + refused(intel) +
                         progress(0, 3) + "\tStripping architecture x86_64 from " + soloExe + "\n" +
                         refused(soloExe) + progress(1, 3) + "\tStripping architecture i386 from " +
                         app + "\n" + "\tStripping architecture x86_64 from " + app + "\n" +
                         progress(2, 3) + sizeRecord(saved));
    EXPECT_EQ(llvmArchs(app), "ppc unknown(18,10) \n");
    EXPECT_EQ(llvmArchs(intel), "x86_64 \n");
    EXPECT_FALSE(root.exists(intel + ".slimmed"));
    EXPECT_EQ(root.readFile(soloExe), solo);
    // Cleared before lipo ran.
    EXPECT_FALSE(root.exists(soloExe + ".slimmed"));
}

// A lipo that writes its output the ordinary way, through whatever is at
// the name: a link left there by whoever can write the bundle must be gone
// before lipo runs, so the file it points at is never written.
TEST_F(CleanBinaries, ALinkAtTheSlimmedCopysNameIsClearedBeforeLipoRuns) {
    playMachine("i386");
    root.writeFile("/usr/bin/lipo",
                   "#!/bin/sh\n"
                   "if [ \"$1\" = -info ]; then\n"
                   "  echo \"Architectures in the fat file: $2 are: ppc i386 \"; exit 0\n"
                   "fi\n"
                   "for a; do out=$a; done\n"
                   "printf slim > \"${VARNO_SYSTEM_ROOT:?}$out\"\n",
                   0755);
    std::string exe = addBundle("/Applications/Evil.app", fatMachO({"ppc", "i386"}));
    root.writeFile("/private/etc/victim", "machine's own", 0600);
    // Relative, so that whoever follows it stays inside the sandbox.
    ASSERT_EQ(symlink("../../../../private/etc/victim", root.real(exe + ".slimmed").c_str()), 0);

    RunResult r = clean({"UserApplications", "ppc"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(root.readFile("/private/etc/victim"), "machine's own");
    EXPECT_EQ(root.readFile(exe), "slim");
}

// Whoever can change a folder on the way to the executable could turn lipo's
// output path elsewhere: lipo then writes with that owner's rights, and a
// folder anyone may change, or a set-ID executable whose copy would be that
// user's, is not slimmed.
TEST_F(CleanBinaries, BundlesOthersCanChangeAreSlimmedWithTheirRightsOrNotAtAll) {
    playMachine("i386");
    const std::string fat = fatMachO({"ppc", "i386"});
    root.mkdirs("/Applications/Mine");
    root.mkdirs("/Applications/Open");
    ASSERT_EQ(chown(root.real("/Applications/Mine").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(root.real("/Applications/Open").c_str(), 0777), 0);
    // The sandbox's lipo, run as that user, must reach the root and its journal.
    ASSERT_EQ(chmod(root.real("/").c_str(), 0755), 0);
    ASSERT_EQ(chmod(root.writeFile(sandbox::kJournalPath, "").c_str(), 0666), 0);
    std::string mine = addBundle("/Applications/Mine/A.app", fat);
    for (const char* folder : {"/Applications/Mine/A.app", "/Applications/Mine/A.app/Contents",
                               "/Applications/Mine/A.app/Contents/MacOS"})
        ASSERT_EQ(chown(root.real(folder).c_str(), 65534, 65534), 0);
    std::string setID = addBundle("/Applications/Mine/B.app", fat, 04755);
    std::string open = addBundle("/Applications/Open/C.app", fat);

    RunResult r = clean({"UserApplications", "ppc"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(llvmArchs(mine), "i386 \n") << r.out;
    EXPECT_EQ(statOf(mine).uid, 0u);
    for (const std::string& exe : {setID, open}) {
        EXPECT_EQ(root.readFile(exe), fat) << exe;
        EXPECT_NE(r.out.find("\t*** Error: no slimmed copy of " + exe +
                             "; the executable is left as it was.\n"),
                  std::string::npos)
            << r.out;
    }
    // The only copy written is A's, as its folders' owner.
    std::vector<sandbox::JournalEntry> removals;
    for (auto& e : lipoRuns())
        if (e.argv.size() > 1 && e.argv[1] == "-remove") removals.push_back(e);
    ASSERT_EQ(removals.size(), 1u);
    EXPECT_EQ(removals[0].euid, 65534u);
    EXPECT_EQ(removals[0].argv, (std::vector<std::string>{"lipo", "-remove", "ppc", mine, "-output",
                                                          mine + ".slimmed"}));
}

TEST_F(CleanBinaries, ScansNestedBundlesButNotUpperCaseOnesOrOtherFolders) {
    playMachine("x86_64");
    const std::string fat = fatMachO({"ppc", "i386"});
    addBundle("/Applications/Outer.app", fat);
    addBundle("/Applications/Outer.app/Contents/Resources/Inner.app", fat);
    std::string shout = addBundle("/Applications/Shout.APP", fat);
    std::string lib = addBundle("/Library/Frameworks/Kit.framework", fat);
    addBundle("/Library/PreferencePanes/Pane.prefPane", fat);
    addBundle("/Applications/Tools/Nested.prefPane", fat);
    // The executor's own user (root here) has its home in "/var/root".
    addBundle("/private/var/root/Applications/Home.app", fat);

    RunResult r = clean({"UserApplications", "UserPreferencePanes", "LocalApplications", "ppc"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::vector<std::string> stripped;
    for (size_t at = 0; (at = r.out.find(" from ", at)) != std::string::npos;) {
        size_t end = r.out.find('\n', at);
        stripped.push_back(r.out.substr(at + 6, end - at - 6));
        at = end;
    }
    // Applications in scan order, then preference panes in scan order.
    EXPECT_EQ(stripped,
              (std::vector<std::string>{
                  "/var/root/Applications/Home.app/Contents/MacOS/Home",
                  "/Applications/Outer.app/Contents/MacOS/Outer",
                  "/Applications/Outer.app/Contents/Resources/Inner.app/Contents/MacOS/Inner",
                  "/Applications/Tools/Nested.prefPane/Contents/MacOS/Nested",
                  "/Library/PreferencePanes/Pane.prefPane/Contents/MacOS/Pane"}))
        << r.out;
    EXPECT_NE(r.out.find("\tScanning /var/root/Applications...\n\tScanning /Applications/...\n"
                         "\tScanning /Library/PreferencePanes/...\n" +
                         progress(0, 5)),
              std::string::npos)
        << r.out;
    EXPECT_EQ(root.readFile(shout), fat);
    EXPECT_EQ(root.readFile(lib), fat);
}

TEST_F(CleanBinaries, BundlesWithoutUsableExecutablesAreLeftAndTheRunGoesOn) {
    playMachine("i386");
    const std::string fat = fatMachO({"ppc", "i386"});
    root.mkdirs("/Applications/Empty.app/Contents");
    root.writeFile("/Applications/NoExe.app/Contents/Info.plist", infoPlist("Gone"));
    std::string cut = addBundle("/Applications/Cut.app", fat.substr(0, fat.size() - 100));
    std::string thin = addBundle("/Applications/Thin.app", thinMachO("i386"));
    std::string good = addBundle("/Applications/Zed.app", fat);
    auto before = snapshot();

    RunResult r = clean({"UserApplications", "ppc"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "\tScanning /Applications/...\n" + progress(0, 5) + progress(0, 5) +
                         progress(1, 5) + progress(2, 5) + progress(3, 5) +
                         "\tStripping architecture ppc from " + good + "\n" + progress(4, 5) +
                         sizeRecord(static_cast<std::int64_t>(fat.size()) - statOf(good).size));
    auto after = snapshot();
    for (const std::string& path : {cut, thin, std::string("/Applications/Empty.app"),
                                    std::string("/Applications/NoExe.app/Contents/Info.plist")}) {
        EXPECT_EQ(before[path], after[path]) << path;
    }
    EXPECT_NE(before[good], after[good]);
}

TEST_F(CleanBinaries, DebugModeChangesNoExecutableAndStillReportsTheSavings) {
    playMachine("x86_64");
    std::string exe = addBundle("/Applications/Big.app", fatMachO(kEverything, 20000));
    auto before = snapshot();

    RunResult dry = clean({"UserApplications", "ppc"}, true);
    ASSERT_EQ(dry.exitStatus, 0) << dry.err;
    EXPECT_EQ(snapshot(), before);

    RunResult real = clean({"UserApplications", "ppc"});
    ASSERT_EQ(real.exitStatus, 0) << real.err;
    off_t saved = static_cast<off_t>(fatMachO(kEverything, 20000).size()) - statOf(exe).size;
    EXPECT_GT(saved, 4 * 20000);
    EXPECT_EQ(dry.out, real.out);
    EXPECT_NE(dry.out.find(sizeRecord(saved)), std::string::npos) << dry.out;
}

TEST_F(CleanBinaries, NothingSelectedScansNothing) {
    addBundle("/Applications/Big.app", fatMachO(kEverything));
    RunResult r = clean({"ppc", "i386", "x86_64"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, progress(0, 0) + sizeRecord(0));
    EXPECT_TRUE(lipoRuns().empty());
}

TEST(CleanBinariesNames, FamiliesAndMembership) {
    EXPECT_EQ(lipoStringsFromNXArchitectureConstant(18),
              (std::vector<std::string>{"ppc", "ppc7400", "ppc750", "ppc970", "ppc64"}));
    EXPECT_EQ(lipoStringsFromNXArchitectureConstant(0x01000012),
              lipoStringsFromNXArchitectureConstant(18));
    EXPECT_EQ(lipoStringsFromNXArchitectureConstant(7), std::vector<std::string>{"i386"});
    EXPECT_EQ(lipoStringsFromNXArchitectureConstant(0x01000007),
              std::vector<std::string>{"x86_64"});
    EXPECT_TRUE(lipoStringsFromNXArchitectureConstant(12).empty());
    EXPECT_TRUE(containsArchitectureNX({18, 7}, 7));
    EXPECT_FALSE(containsArchitectureNX({18, 0x01000012}, 7));
}
