#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fs/remove.h"
#include "fs/walk.h"
#include "host/testing.h"
#include "support.h"

namespace {

using host::testing::SandboxRoot;
using host::testing::TempDir;

struct Seen {
    std::vector<std::string> entries;  // "path" or "path@" for a link
    std::vector<std::string> left;
};

Seen walk(const std::string& machineFolder, vfs::WalkOrder order, vfs::OSErr* status = nullptr,
          vfs::WalkLookup lookup = vfs::WalkLookup::Full) {
    Seen seen;
    vfs::WalkCallbacks cb;
    cb.entry = [&](const vfs::WalkEntry& e) {
        std::string s(e.relativePath);
        if (e.info.kind == vfs::NodeKind::SymbolicLink) s += "@";
        seen.entries.push_back(s + ":" + std::to_string(e.depth));
        return true;
    };
    cb.leave = [&](const vfs::WalkEntry& e) { seen.left.emplace_back(e.relativePath); };
    vfs::FSRef ref;
    vfs::FSPathMakeRef(machineFolder, &ref);
    vfs::OSErr err = vfs::FSWalkFolder(ref, order, cb, lookup);
    if (status) *status = err;
    return seen;
}

TEST(Walk, ByNameIsPreorderInByteOrderAndNeverFollowsLinks) {
    SandboxRoot root;
    TempDir outside;
    root.writeFile("/t/b/z", "1");
    root.writeFile("/t/b/a", "1");
    root.writeFile("/t/B", "1");
    root.writeFile("/t/.hidden", "1");
    root.writeFile("/t/a.app/Contents/Info.plist", "1");
    ASSERT_TRUE(writeReal(outside.path() + "/never", ""));
    ASSERT_EQ(symlink(outside.path().c_str(), root.real("/t/outlink").c_str()), 0);
    ASSERT_EQ(symlink("b", root.real("/t/inlink").c_str()), 0);

    for (vfs::WalkLookup lookup : {vfs::WalkLookup::Full, vfs::WalkLookup::KindOnly}) {
        vfs::OSErr status = 1;
        Seen seen = walk("/t", vfs::WalkOrder::ByName, &status, lookup);
        EXPECT_EQ(status, vfs::noErr);
        std::vector<std::string> expected = {
            ".hidden:0", "B:0",   "a.app:0", "a.app/Contents:1", "a.app/Contents/Info.plist:2",
            "b:0",       "b/a:1", "b/z:1",   "inlink@:0",        "outlink@:0"};
        EXPECT_EQ(seen.entries, expected);
        std::vector<std::string> left = {"a.app/Contents", "a.app", "b"};
        EXPECT_EQ(seen.left, left);
    }
}

TEST(Walk, StartMustBeAFolderNotALink) {
    SandboxRoot root;
    root.mkdirs("/real");
    ASSERT_EQ(symlink("/real", root.real("/link").c_str()), 0);
    vfs::OSErr status = 0;
    walk("/link", vfs::WalkOrder::ByName, &status);
    EXPECT_EQ(status, vfs::errFSNotAFolder);
    walk("/missing", vfs::WalkOrder::ByName, &status);
    EXPECT_EQ(status, vfs::nsvErr);
}

// A folder replaced by a link between listing and entering is met as the link.
TEST(Walk, FolderSwappedForLinkIsNotEntered) {
    SandboxRoot root;
    TempDir outside;
    root.writeFile("/t/d/inner", "1");
    ASSERT_TRUE(writeReal(outside.path() + "/secret", ""));
    std::vector<std::string> seen;
    vfs::WalkCallbacks cb;
    cb.entry = [&](const vfs::WalkEntry& e) {
        seen.emplace_back(std::string(e.relativePath) +
                          (e.info.kind == vfs::NodeKind::SymbolicLink ? "@" : ""));
        if (e.name == "d" && e.info.isFolder()) {
            std::string d = root.real("/t/d");
            EXPECT_EQ(rename(d.c_str(), root.real("/t/moved").c_str()), 0);
            EXPECT_EQ(symlink(outside.path().c_str(), d.c_str()), 0);
        }
        return true;
    };
    vfs::FSRef ref;
    ASSERT_EQ(vfs::FSPathMakeRef("/t", &ref), vfs::noErr);
    EXPECT_EQ(vfs::FSWalkFolder(ref, vfs::WalkOrder::ByName, cb), vfs::noErr);
    std::vector<std::string> expected = {"d", "d@"};
    EXPECT_EQ(seen, expected);
}

TEST(Walk, DeepTreeNeedsNeitherStackNorDescriptors) {
    SandboxRoot root;
    root.mkdirs("/deep");
    constexpr int kDepth = 20000;
    ASSERT_TRUE(makeDeepTree(root.real("/deep"), kDepth));
    for (vfs::WalkOrder order : {vfs::WalkOrder::ByName, vfs::WalkOrder::AsStored}) {
        int folders = 0, files = 0, left = 0;
        std::size_t maxDepth = 0;
        vfs::WalkCallbacks cb;
        cb.entry = [&](const vfs::WalkEntry& e) {
            (e.info.isFolder() ? folders : files)++;
            maxDepth = std::max(maxDepth, e.depth);
            return true;
        };
        cb.leave = [&](const vfs::WalkEntry&) { ++left; };
        vfs::FSRef ref;
        ASSERT_EQ(vfs::FSPathMakeRef("/deep", &ref), vfs::noErr);
        EXPECT_EQ(vfs::FSWalkFolder(ref, order, cb), vfs::noErr);
        EXPECT_EQ(folders, kDepth);
        EXPECT_EQ(files, 1);
        EXPECT_EQ(left, kDepth);
        EXPECT_EQ(maxDepth, static_cast<std::size_t>(kDepth));
    }
    EXPECT_EQ(vfs::removefile("/deep", vfs::REMOVEFILE_RECURSIVE), 0);
    EXPECT_FALSE(root.exists("/deep"));
}

TEST(Listing, NamesIncludeHiddenInByteOrder) {
    SandboxRoot root;
    root.writeFile("/l/b", "");
    root.writeFile("/l/.a", "");
    root.writeFile("/l/A", "");
    root.mkdirs("/l/c");
    auto names = vfs::contentsOfDirectory("/l");
    ASSERT_TRUE(names.has_value());
    std::vector<std::string> expected = {".a", "A", "b", "c"};
    EXPECT_EQ(*names, expected);
    EXPECT_FALSE(vfs::contentsOfDirectory("/missing").has_value());
    EXPECT_FALSE(vfs::contentsOfDirectory("/l/b").has_value());
}

}  // namespace
