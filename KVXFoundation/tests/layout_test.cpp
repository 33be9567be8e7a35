// The library sits in the bundle as its install name says, and a program in
// Contents/MacOS finds it there.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/testing.h"

namespace {

namespace fs = std::filesystem;

const char kFramework[] = "Contents/Frameworks/KVXFoundation.framework";

TEST(FoundationLayout, FrameworkLinks) {
    const fs::path framework = host::testing::bundlePath(kFramework);
    EXPECT_EQ(fs::read_symlink(framework / "Versions/Current"), "A");
    EXPECT_EQ(fs::read_symlink(framework / "KVXFoundation"), "Versions/Current/KVXFoundation");
    EXPECT_EQ(fs::read_symlink(framework / "Headers"), "Versions/Current/Headers");
    EXPECT_TRUE(fs::is_regular_file(framework / "Versions/A/KVXFoundation"));
    EXPECT_TRUE(fs::is_regular_file(framework / "Headers/KVXFoundation/KVXNSArrayAdditons.h"));
    EXPECT_TRUE(fs::is_regular_file(framework / "Headers/fs/ref.h"));
}

TEST(FoundationLayout, AProgramInTheBundleFindsTheLibraryThroughItsRunPath) {
    const char* probe = std::getenv("KVX_FOUNDATION_PROBE");
    ASSERT_NE(probe, nullptr);
    host::testing::TempDir dir;
    const fs::path app = fs::path(dir.path()) / "Probe.app/Contents";
    fs::create_directories(app / "MacOS");
    fs::create_directories(app / "Frameworks");
    const std::string program = (app / "MacOS/probe").string();
    host::testing::copyFile(probe, program);
    // Copied with its links, away from the build tree.
    host::testing::RunOptions copy;
    copy.argv = {"/bin/cp", "-R", "-P", host::testing::bundlePath(kFramework),
                 (app / "Frameworks").string() + "/"};
    auto copied = host::testing::run(copy);
    ASSERT_EQ(copied.exitStatus, 0) << copied.err;

    host::testing::RunOptions start;
    start.argv = {program};
    start.unsetEnv = {"LD_LIBRARY_PATH"};
    auto result = host::testing::run(start);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "Three\n");

    // Without the framework there is nothing to load: the path is the only way.
    fs::remove_all(app / "Frameworks");
    auto missing = host::testing::run(start);
    EXPECT_NE(missing.exitStatus, 0);
    EXPECT_NE(missing.err.find("KVXFoundation"), std::string::npos) << missing.err;
}

}  // namespace
