#include "fs/overwrite.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "host/testing.h"

namespace {

using host::testing::SandboxRoot;

constexpr vfs::removefile_flags_t kEmpty = vfs::REMOVEFILE_RECURSIVE | vfs::REMOVEFILE_KEEP_PARENT;

bool holdsOriginal(const std::optional<std::string>& data, const std::string& original) {
    return data && data->find(original.substr(0, 64)) != std::string::npos;
}

// A trash holding a file with a second name outside it: only a secure empty
// by the file's owner destroys the data behind both names.
TEST(RemovefileForOwner, OverwritesLinkedFilesOnlyOfTheOwnerAndOnlyWhenSecure) {
    const std::string original(70000, 'S');
    struct Case {
        const char* name;
        vfs::removefile_flags_t option;
        bool ownedByCaller;
        bool destroyed;
        int passes;
    } cases[] = {
        {"one pass", vfs::REMOVEFILE_SECURE_1_PASS, true, true, 1},
        {"seven passes", vfs::REMOVEFILE_SECURE_7_PASS, true, true, 7},
        {"thirty-five passes", vfs::REMOVEFILE_SECURE_35_PASS, true, true, 35},
        {"plain", 0, true, false, 0},
        {"someone else's", vfs::REMOVEFILE_SECURE_7_PASS, false, false, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(vfs::secureOverwritePassCount(c.option), c.passes);
        SandboxRoot root;
        root.writeFile("/Users/ann/.Trash/deep/folder/doc", original);
        root.writeFile("/Users/ann/.Trash/single", original);
        root.mkdirs("/Users/ann/kept");
        ASSERT_EQ(link(root.real("/Users/ann/.Trash/deep/folder/doc").c_str(),
                       root.real("/Users/ann/kept/doc").c_str()),
                  0);
        uid_t owner = c.ownedByCaller ? geteuid() : geteuid() + 1;

        EXPECT_EQ(vfs::removefileForOwner("/Users/ann/.Trash", kEmpty | c.option, owner), 0);

        EXPECT_TRUE(root.exists("/Users/ann/.Trash"));
        EXPECT_FALSE(root.exists("/Users/ann/.Trash/deep"));
        EXPECT_FALSE(root.exists("/Users/ann/.Trash/single"));
        std::optional<std::string> linked = root.readFile("/Users/ann/kept/doc");
        ASSERT_TRUE(linked);
        EXPECT_EQ(linked->size(), original.size());
        EXPECT_EQ(holdsOriginal(linked, original), !c.destroyed);
    }
}

TEST(RemovefileForOwner, ANamedLinkedFileAndMissingPaths) {
    SandboxRoot root;
    const std::string original(5000, 'x');
    root.writeFile("/t/file", original);
    ASSERT_EQ(link(root.real("/t/file").c_str(), root.real("/t/other").c_str()), 0);
    EXPECT_EQ(vfs::removefileForOwner("/t/file", vfs::REMOVEFILE_SECURE_1_PASS, geteuid()), 0);
    EXPECT_FALSE(root.exists("/t/file"));
    EXPECT_FALSE(holdsOriginal(root.readFile("/t/other"), original));

    EXPECT_EQ(
        vfs::removefileForOwner("/t/missing", kEmpty | vfs::REMOVEFILE_SECURE_1_PASS, geteuid()),
        ENOENT);
    EXPECT_EQ(vfs::removefileForOwner("/t/missing", kEmpty, geteuid()), ENOENT);
}

}  // namespace
