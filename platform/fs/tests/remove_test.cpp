#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "fs/remove.h"
#include "host/testing.h"
#include "support.h"

namespace {

using host::testing::SandboxRoot;
using host::testing::TempDir;

TEST(Remove, OutcomesByKindAndOption) {
    struct Case {
        const char* name;
        const char* path;
        vfs::removefile_flags_t flags;
        int result;
        bool namedSurvives;
        bool contentsSurvive;
    } cases[] = {
        {"file", "/t/folder/file", 0, 0, false, true},
        {"folder recursive", "/t/folder", vfs::REMOVEFILE_RECURSIVE, 0, false, false},
        {"trailing slash", "/t/folder/", vfs::REMOVEFILE_RECURSIVE, 0, false, false},
        {"keep parent", "/t/folder", vfs::REMOVEFILE_RECURSIVE | vfs::REMOVEFILE_KEEP_PARENT, 0,
         true, false},
        {"non-empty folder without recursion", "/t/folder", 0, ENOTEMPTY, true, true},
        {"missing", "/t/nothing", vfs::REMOVEFILE_RECURSIVE, ENOENT, false, true},
        {"the root", "/", vfs::REMOVEFILE_RECURSIVE | vfs::REMOVEFILE_KEEP_PARENT, EINVAL, true,
         true},
        {"dot-dot", "/t/folder/sub/..", vfs::REMOVEFILE_RECURSIVE, EINVAL, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SandboxRoot root;
        root.writeFile("/t/folder/file", "abc");
        root.writeFile("/t/folder/.hidden", "abc");
        root.writeFile("/t/folder/sub/deeper", "abc");
        EXPECT_EQ(vfs::removefile(c.path, c.flags), c.result);
        if (c.result != ENOENT) {
            EXPECT_EQ(root.exists(c.path), c.namedSurvives);
        }
        EXPECT_EQ(root.exists("/t/folder/sub/deeper"), c.contentsSurvive);
        EXPECT_EQ(root.exists("/t/folder/.hidden"), c.contentsSurvive);
        EXPECT_TRUE(root.exists("/t"));
    }
}

// A link is removed as a link wherever it is met: what it points to, outside
// the tree being removed, survives.
TEST(Remove, LinksToOutsideAreRemovedNotFollowed) {
    SandboxRoot root;
    TempDir outside;
    ASSERT_TRUE(writeReal(outside.path() + "/precious", "keep me"));
    root.mkdirs("/private/tmp/victim");
    ASSERT_EQ(symlink(outside.path().c_str(), root.real("/private/tmp/victim/evil").c_str()), 0);
    ASSERT_EQ(symlink(outside.path().c_str(), root.real("/private/tmp/top").c_str()), 0);

    EXPECT_EQ(vfs::removefile("/private/tmp/victim", vfs::REMOVEFILE_RECURSIVE), 0);
    EXPECT_EQ(vfs::removefile("/private/tmp/top/", vfs::REMOVEFILE_RECURSIVE), 0);
    EXPECT_EQ(vfs::removefile("/private/tmp/top", vfs::REMOVEFILE_RECURSIVE), ENOENT);

    EXPECT_FALSE(root.exists("/private/tmp/victim"));
    EXPECT_EQ(readReal(outside.path() + "/precious"), "keep me");
}

TEST(Remove, SecurePassesOverwriteDataBeforeUnlinking) {
    const std::string original(100000, 'S');
    for (vfs::removefile_flags_t pass :
         {vfs::REMOVEFILE_SECURE_1_PASS, vfs::REMOVEFILE_SECURE_7_PASS,
          vfs::REMOVEFILE_SECURE_35_PASS}) {
        SCOPED_TRACE(pass);
        SandboxRoot root;
        std::string real = root.writeFile("/Trash/doc", original);
        root.writeFile("/Trash/linked", original);
        ASSERT_EQ(link(root.real("/Trash/linked").c_str(), root.real("/other").c_str()), 0);
        // An open descriptor lets the test see the data after the unlink.
        int fd = open(real.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(vfs::removefile("/Trash",
                                  vfs::REMOVEFILE_RECURSIVE | vfs::REMOVEFILE_KEEP_PARENT | pass),
                  0);
        std::string after(original.size() + 10, '\0');
        ssize_t n = pread(fd, after.data(), after.size(), 0);
        close(fd);
        ASSERT_EQ(n, static_cast<ssize_t>(original.size()));
        after.resize(static_cast<size_t>(n));
        EXPECT_EQ(after.find("SSSSSSSS"), std::string::npos);
        EXPECT_FALSE(root.exists("/Trash/doc"));
        EXPECT_TRUE(root.exists("/Trash"));
        // Data still in use under another name is left alone.
        EXPECT_EQ(root.readFile("/other"), original);
    }
}

TEST(Remove, DeepTree) {
    SandboxRoot root;
    root.mkdirs("/deep");
    ASSERT_TRUE(makeDeepTree(root.real("/deep"), 20000));
    EXPECT_EQ(vfs::removefile("/deep", vfs::REMOVEFILE_RECURSIVE | vfs::REMOVEFILE_KEEP_PARENT), 0);
    EXPECT_TRUE(root.exists("/deep"));
    EXPECT_FALSE(root.exists("/deep/d"));
}

}  // namespace
