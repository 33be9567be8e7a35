#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bundle/arch.h"
#include "bundle/macho.h"
#include "bundle/machofixtures.h"
#include "host/testing.h"

using bundle::testing::fatMachO;
using bundle::testing::llvmTool;
using bundle::testing::thinMachO;
using host::testing::RunResult;
using host::testing::SandboxRoot;

namespace {

const std::vector<std::string> kAll = {"ppc", "ppc7400", "ppc970", "ppc64", "i386", "x86_64"};

std::string lipoProgram() {
    const char* p = std::getenv("SANDBOX_LIPO");
    return p != nullptr ? p : "";
}

RunResult lipo(const std::vector<std::string>& args) {
    host::testing::RunOptions o;
    o.argv = {lipoProgram()};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    return host::testing::run(o);
}

RunResult runTool(const std::string& tool, const std::vector<std::string>& args) {
    host::testing::RunOptions o;
    o.argv = {tool};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    return host::testing::run(o);
}

class Lipo : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(lipoProgram().empty());
        root.mkdirs("/private/var/log");
    }
    SandboxRoot root;
};

}  // namespace

TEST_F(Lipo, InfoPrintsTheArchitecturesInLipoFormat) {
    root.writeFile("/Applications/A B.app/exe", fatMachO(kAll));
    root.writeFile("/bin/thin", thinMachO("ppc7400"));
    RunResult r = lipo({"-info", "/Applications/A B.app/exe", "/bin/thin"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out,
              "Architectures in the fat file: /Applications/A B.app/exe are: ppc ppc7400 ppc970 "
              "ppc64 i386 x86_64 \n"
              "Non-fat file: /bin/thin is architecture: ppc7400\n");
}

TEST_F(Lipo, InfoFailsOnFilesItCannotRead) {
    root.writeFile("/bin/text", std::string(5000, 't'));
    root.writeFile("/bin/cut", fatMachO({"ppc", "i386"}).substr(0, 6000));
    struct Case {
        const char* path;
        const char* message;
    };
    const Case cases[] = {
        {"/bin/missing", "lipo: can't open input file: /bin/missing (No such file or directory)\n"},
        {"/bin/text", "lipo: can't figure out the architecture type of: /bin/text\n"},
        {"/bin/cut", "lipo: can't figure out the architecture type of: /bin/cut\n"},
    };
    for (const Case& c : cases) {
        RunResult r = lipo({"-info", c.path});
        EXPECT_EQ(r.exitStatus, 1) << c.path;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.message);
    }
}

TEST_F(Lipo, RemoveWritesAValidFatFileOfTheRemainingSlices) {
    const std::string original = fatMachO(kAll, 7000);
    root.writeFile("/A.app/Contents/MacOS/A", original, 0751);
    RunResult r =
        lipo({"-remove", "ppc", "-remove", "ppc7400", "-remove", "ppc970", "-remove", "ppc64",
              "/A.app/Contents/MacOS/A", "-output", "/A.app/Contents/MacOS/A.slimmed"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(root.readFile("/A.app/Contents/MacOS/A"), original);

    std::string slim = *root.readFile("/A.app/Contents/MacOS/A.slimmed");
    auto parsed = bundle::parseMachO(slim);
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->slices.size(), 2u);
    // Each kept slice is byte for byte the original one, on a 4096 boundary.
    auto before = bundle::parseMachO(original);
    for (size_t i = 0; i < 2; ++i) {
        const auto& s = parsed->slices[i];
        const auto& o = before->slices[4 + i];
        EXPECT_EQ(bundle::lipoName(s.cputype, s.cpusubtype), kAll[4 + i]);
        EXPECT_EQ(s.offset % 4096, 0u);
        EXPECT_EQ(s.align, 12u);
        EXPECT_EQ(slim.substr(s.offset, s.size), original.substr(o.offset, o.size));
    }
    EXPECT_EQ(parsed->slices[0].offset, 4096u);
    EXPECT_EQ(slim.size(), 3 * 4096u + 7000u);
    struct stat st {};
    ASSERT_EQ(stat(root.real("/A.app/Contents/MacOS/A.slimmed").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);

    // An independent reader agrees.
    std::string llvmLipo = llvmTool("llvm-lipo");
    std::string objdump = llvmTool("llvm-objdump");
    ASSERT_FALSE(llvmLipo.empty() || objdump.empty()) << "Debian's llvm tools are missing";
    std::string slimReal = root.real("/A.app/Contents/MacOS/A.slimmed");
    RunResult archs = runTool(llvmLipo, {slimReal, "-archs"});
    EXPECT_EQ(archs.exitStatus, 0) << archs.err;
    EXPECT_EQ(archs.out, "i386 x86_64 \n");
    RunResult headers = runTool(objdump, {"--macho", "--private-headers", "--arch=all", slimReal});
    EXPECT_EQ(headers.exitStatus, 0) << headers.err;
    EXPECT_EQ(headers.err, "");
    EXPECT_NE(headers.out.find("(architecture i386)"), std::string::npos) << headers.out;
    EXPECT_NE(headers.out.find("(architecture x86_64)"), std::string::npos) << headers.out;
    EXPECT_EQ(headers.out.find("PPC"), std::string::npos) << headers.out;
}

TEST_F(Lipo, RemoveKeepsEachSlicesOwnAlignment) {
    root.writeFile("/bin/f", fatMachO({"ppc", "ppc7400", "i386", "x86_64"}, 3000, 14));
    RunResult r = lipo({"-remove", "i386", "/bin/f", "-output", "/bin/g"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    auto parsed = bundle::parseMachO(*root.readFile("/bin/g"));
    ASSERT_TRUE(parsed);
    std::vector<std::string> names;
    for (const auto& s : parsed->slices) {
        names.push_back(bundle::lipoName(s.cputype, s.cpusubtype));
        EXPECT_EQ(s.align, 14u);
        EXPECT_EQ(s.offset % 16384, 0u);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"ppc", "ppc7400", "x86_64"}));
    RunResult archs = runTool(llvmTool("llvm-lipo"), {root.real("/bin/g"), "-archs"});
    EXPECT_EQ(archs.out, "ppc unknown(18,10) x86_64 \n");
}

TEST_F(Lipo, RemoveRefusesWhatItCannotDoAndWritesNothing) {
    root.writeFile("/bin/f", fatMachO({"ppc", "i386"}));
    root.writeFile("/bin/thin", thinMachO("i386"));
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"-remove", "ppc750", "/bin/f", "-output", "/bin/out"},
         "lipo: -remove ppc750 specified but fat file: /bin/f does not contain that "
         "architecture\n"},
        {{"-remove", "ppc", "-remove", "i386", "/bin/f", "-output", "/bin/out"},
         "lipo: -remove's specified would result in an empty fat file\n"},
        {{"-remove", "i386", "/bin/thin", "-output", "/bin/out"},
         "lipo: input file (/bin/thin) must be a fat file when the -remove option is "
         "specified\n"},
        {{"-remove", "sparc9", "/bin/f", "-output", "/bin/out"},
         "lipo: unknown architecture flag: sparc9 given to -remove "
         "operation\n"},
        {{"-remove", "ppc", "/bin/f"}, "lipo: no output file specified\n"},
        {{"-remove", "ppc", "/bin/f", "-output", "/nofolder/out"},
         "lipo: can't create output file: /nofolder/out (No such file or directory)\n"},
        {{"-remove"}, "lipo: missing argument to -remove option\n"},
        {{"-frobnicate", "/bin/f"}, "lipo: unknown flag: -frobnicate\n"},
    };
    for (const Case& c : cases) {
        RunResult r = lipo(c.args);
        EXPECT_EQ(r.exitStatus, 1) << c.message;
        EXPECT_EQ(r.err, c.message);
        EXPECT_FALSE(root.exists("/bin/out")) << c.message;
    }
    EXPECT_EQ(*root.readFile("/bin/f"), fatMachO({"ppc", "i386"}));
}

TEST_F(Lipo, OutputReplacesALinkPlantedAtItsPathInsteadOfFollowingIt) {
    std::string victim = root.writeFile("/etc/victim", "precious", 0644);
    root.writeFile("/Users/ann/Applications/A.app/A", fatMachO({"ppc", "i386"}));
    std::string out = root.real("/Users/ann/Applications/A.app/A.slimmed");
    ASSERT_EQ(symlink(victim.c_str(), out.c_str()), 0);
    RunResult r = lipo({"-remove", "ppc", "/Users/ann/Applications/A.app/A", "-output",
                        "/Users/ann/Applications/A.app/A.slimmed"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(root.readFile("/etc/victim"), "precious");
    struct stat st {};
    ASSERT_EQ(lstat(out.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(Lipo, InstalledInARootItTakesThatRootAndJournalsEachRun) {
    std::string installed = root.real("/usr/bin/lipo");
    root.mkdirs("/usr/bin");
    host::testing::copyFile(lipoProgram(), installed);
    root.writeFile("/bin/f", fatMachO({"ppc", "i386"}));
    host::testing::RunOptions o;
    o.argv = {installed, "-info", "/bin/f"};
    o.unsetEnv = {"VARNO_SYSTEM_ROOT"};
    RunResult r = host::testing::run(o);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "Architectures in the fat file: /bin/f are: ppc i386 \n");
    EXPECT_EQ(root.readFile("/private/var/log/varno-journal"),
              std::to_string(geteuid()) + "\t/usr/bin/lipo\t-info\t/bin/f\n");
}
