#include <gtest/gtest.h>
#include <unistd.h>

#include "fs/ref.h"
#include "host/testing.h"

namespace {

using host::testing::SandboxRoot;

TEST(FSRef, PathNamingNothingGivesInvalidReference) {
    SandboxRoot root;
    vfs::FSRef ref;
    EXPECT_EQ(vfs::FSPathMakeRef("/nothing/here", &ref), vfs::fnfErr);
    EXPECT_FALSE(ref.isValid());
    vfs::FSCatalogInfo info;
    EXPECT_EQ(vfs::FSGetCatalogInfo(ref, &info), vfs::nsvErr);
    EXPECT_EQ(vfs::FSGetCatalogInfo(vfs::FSRef(), &info), vfs::nsvErr);
}

TEST(FSRef, CatalogInfoByKind) {
    SandboxRoot root;
    root.writeFile("/x/file", "0123456789");
    root.writeFile("/x/big", std::string(5000, 'b'));
    root.mkdirs("/x/folder");
    ASSERT_EQ(symlink("/x/big", root.real("/x/link").c_str()), 0);

    struct Case {
        const char* path;
        vfs::NodeKind kind;
        bool folder;
        std::uint64_t size;
        std::uint32_t type;
    } cases[] = {
        {"/x/file", vfs::NodeKind::File, false, 10, 0},
        {"/x/folder", vfs::NodeKind::Folder, true, 0, 0},
        {"/x/folder/", vfs::NodeKind::Folder, true, 0, 0},
        // A link is never followed: its size is its target path's length.
        {"/x/link", vfs::NodeKind::SymbolicLink, false, 6, vfs::kSymLinkFileType},
        {"/x/link/", vfs::NodeKind::SymbolicLink, false, 6, vfs::kSymLinkFileType},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        vfs::FSRef ref;
        ASSERT_EQ(vfs::FSPathMakeRef(c.path, &ref), vfs::noErr);
        vfs::FSCatalogInfo info;
        ASSERT_EQ(vfs::FSGetCatalogInfo(ref, &info), vfs::noErr);
        EXPECT_EQ(info.kind, c.kind);
        EXPECT_EQ(info.isFolder(), c.folder);
        EXPECT_EQ(info.dataLogicalSize, c.size);
        EXPECT_EQ(info.fileType, c.type);
    }
}

TEST(FSRef, ObjectGoneOrReplacedFailsLookup) {
    SandboxRoot root;
    root.writeFile("/f", "a");
    vfs::FSRef ref;
    ASSERT_EQ(vfs::FSPathMakeRef("/f", &ref), vfs::noErr);
    // Replaced (the new object made while the old one exists, so it cannot
    // reuse its inode), then gone.
    root.writeFile("/g", "another object under the same name");
    ASSERT_EQ(rename(root.real("/g").c_str(), root.real("/f").c_str()), 0);
    vfs::FSCatalogInfo info;
    EXPECT_EQ(vfs::FSGetCatalogInfo(ref, &info), vfs::fnfErr);
    ASSERT_EQ(unlink(root.real("/f").c_str()), 0);
    EXPECT_EQ(vfs::FSGetCatalogInfo(ref, &info), vfs::fnfErr);
}

TEST(FSRef, AbsoluteLinksResolveInsideTheSystemRoot) {
    SandboxRoot root;
    root.writeFile("/private/tmp/f", "abc");
    ASSERT_EQ(symlink("/private/tmp", root.real("/tmp").c_str()), 0);
    vfs::FSRef ref;
    ASSERT_EQ(vfs::FSPathMakeRef("/tmp/f", &ref), vfs::noErr);
    vfs::FSCatalogInfo info;
    ASSERT_EQ(vfs::FSGetCatalogInfo(ref, &info), vfs::noErr);
    EXPECT_EQ(info.dataLogicalSize, 3u);
    EXPECT_EQ(ref.path(), "/tmp/f");
    // ".." cannot climb out of the root either.
    EXPECT_EQ(vfs::FSPathMakeRef("/../../private/tmp/f", &ref), vfs::noErr);
}

TEST(FSRef, MakePathRespectsBufferSize) {
    SandboxRoot root;
    root.writeFile("/abc", "");
    vfs::FSRef ref;
    ASSERT_EQ(vfs::FSPathMakeRef("/abc", &ref), vfs::noErr);
    std::string path;
    EXPECT_EQ(vfs::FSRefMakePath(ref, &path, 5), vfs::noErr);
    EXPECT_EQ(path, "/abc");
    EXPECT_EQ(vfs::FSRefMakePath(ref, &path, 4), vfs::pathTooLongErr);
    EXPECT_EQ(vfs::FSRefMakePath(vfs::FSRef(), &path, 100), vfs::nsvErr);
}

}  // namespace
