// SetFile, the bundle's tool that hides and shows files, run as a program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/testing.h"
#include "setfile_support.h"

namespace {

using host::testing::RunResult;
using host::testing::SandboxRoot;
using setfile_test::finderInfo;
using setfile_test::finderInfoWith;
using setfile_test::setFinderInfo;

constexpr std::uint16_t kInvisible = 0x4000;
constexpr std::uint16_t kHasCustomIcon = 0x0400;

class SetFile : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!setfile_test::userAttributesSupported(root.path()))
            GTEST_SKIP() << "the file system of " << root.path()
                         << " keeps no user extended attributes";
    }

    RunResult setFile(const std::vector<std::string>& arguments) {
        host::testing::RunOptions o;
        o.argv = {host::testing::bundlePath("Contents/Resources/SetFile")};
        o.argv.insert(o.argv.end(), arguments.begin(), arguments.end());
        return host::testing::run(o);
    }

    SandboxRoot root;
};

TEST_F(SetFile, HidesAndShowsFilesAndFoldersKeepingTheOtherFinderInformation) {
    const std::string file = root.writeFile("/Users/Shared/report.txt", "text");
    root.mkdirs("/Users/Shared/Folder");
    const std::string folder = root.real("/Users/Shared/Folder");
    // Type, creator and another flag the Finder set earlier.
    ASSERT_TRUE(setFinderInfo(file, finderInfoWith(kHasCustomIcon, "TEXTttxt")));

    RunResult hide = setFile({"-a", "V", "/Users/Shared/report.txt", "/Users/Shared/Folder"});
    EXPECT_EQ(hide.exitStatus, 0) << hide.err;
    EXPECT_EQ(hide.out + hide.err, "");
    EXPECT_EQ(finderInfo(file), finderInfoWith(kHasCustomIcon | kInvisible, "TEXTttxt"));
    EXPECT_EQ(finderInfo(folder), finderInfoWith(kInvisible));

    RunResult show = setFile({"-a", "v", "/Users/Shared/report.txt", "/Users/Shared/Folder"});
    EXPECT_EQ(show.exitStatus, 0) << show.err;
    EXPECT_EQ(finderInfo(file), finderInfoWith(kHasCustomIcon, "TEXTttxt"));
    // Nothing left to keep: the attribute goes, as the platform drops empty
    // Finder information.
    EXPECT_EQ(finderInfo(folder), std::nullopt);

    // Showing a file that was never hidden changes nothing.
    EXPECT_EQ(setFile({"-a", "v", "/Users/Shared/Folder"}).exitStatus, 0);
    EXPECT_EQ(finderInfo(folder), std::nullopt);
}

TEST_F(SetFile, AMissingOrMalformedFileIsReportedAndTheOthersAreStillChanged) {
    const std::string bad = root.writeFile("/bad", "x");
    ASSERT_TRUE(setFinderInfo(bad, "short"));
    const std::string good = root.writeFile("/good", "x");

    RunResult r = setFile({"-a", "V", "/missing", "/bad", "/good"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "SetFile: file not found: /missing\n"
              "SetFile: cannot change /bad: its Finder information is malformed\n");
    EXPECT_EQ(finderInfo(bad), "short");
    EXPECT_EQ(finderInfo(good), finderInfoWith(kInvisible));
    EXPECT_FALSE(root.exists("/missing"));
}

TEST_F(SetFile, OnlyTheInvisibleFlagIsUnderstoodAndEverythingAfterItIsAFile) {
    const std::string dash = root.writeFile("/-a", "x");
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {}, {"-a", "V"}, {"-a", "", "/-a"}, {"-a", "L", "/-a"}, {"-c", "V", "/-a"}}) {
        RunResult r = setFile(bad);
        EXPECT_EQ(r.exitStatus, 2);
        EXPECT_NE(r.err.find("usage: SetFile -a v|V file ..."), std::string::npos) << r.err;
    }
    EXPECT_EQ(finderInfo(dash), std::nullopt);

    // A name that looks like an option is a file once the attributes are given.
    RunResult r = setFile({"-a", "V", "/-a"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(finderInfo(dash), finderInfoWith(kInvisible));
}

// A link anywhere on the way leads nowhere: neither the file outside the
// root it points at nor the one inside is changed.
TEST_F(SetFile, PathsThroughLinksAreRefused) {
    host::testing::TempDir outside;
    const std::string victim = outside.path() + "/victim";
    FILE* f = fopen(victim.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    const std::string inside = root.writeFile("/private/etc/inside", "x");
    root.mkdirs("/Users/evil");
    ASSERT_EQ(chown(root.real("/Users/evil").c_str(), 65534, 65534), 0);
    ASSERT_EQ(symlink(outside.path().c_str(), root.real("/Users/evil/out").c_str()), 0);
    ASSERT_EQ(symlink("../../private/etc", root.real("/Users/evil/etc").c_str()), 0);
    ASSERT_EQ(symlink("../../private/etc/inside", root.real("/Users/evil/leaf").c_str()), 0);

    RunResult r = setFile({"-a", "V", "/Users/evil/out/victim", "/Users/evil/etc/inside",
                           "/Users/evil/leaf"});
    EXPECT_EQ(r.exitStatus, 1);
    for (const char* path : {"/Users/evil/out/victim", "/Users/evil/etc/inside", "/Users/evil/leaf"})
        EXPECT_NE(r.err.find(std::string("SetFile: cannot change ") + path + ": "), std::string::npos)
            << r.err;
    EXPECT_EQ(finderInfo(victim), std::nullopt);
    EXPECT_EQ(finderInfo(inside), std::nullopt);
}

}  // namespace
