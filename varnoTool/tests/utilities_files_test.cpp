#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "Utilities.h"
#include "host/testing.h"
#include "utilities_support.h"

namespace {

using host::testing::SandboxRoot;
using host::testing::TempDir;
using utilities_test::captureOutput;
using utilities_test::RunState;

std::uint64_t sizeAt(const std::string& path) {
    FSRef ref;
    posixStringToFSRef(ref, path, false);
    return sizeAtFSRef(ref);
}

// Nested folders named "d", made by descriptor since the full path outgrows PATH_MAX.
bool makeDeepTree(const std::string& realFolder, int depth) {
    int fd = open(realFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; fd >= 0 && i < depth; ++i) {
        int next = mkdirat(fd, "d", 0755) == 0 ? openat(fd, "d", O_RDONLY | O_DIRECTORY) : -1;
        close(fd);
        fd = next;
    }
    if (fd < 0) return false;
    int f = openat(fd, "bottom", O_WRONLY | O_CREAT, 0644);
    bool ok = f >= 0 && write(f, "12345", 5) == 5;
    if (f >= 0) close(f);
    close(fd);
    return ok;
}

TEST(SizeAtFSRef, LogicalDataSizes) {
    SandboxRoot root;
    root.writeFile("/f10", "0123456789");
    root.mkdirs("/empty");
    root.writeFile("/tree/a", std::string(100, 'a'));
    root.writeFile("/tree/sub/b", std::string(20, 'b'));
    root.writeFile("/tree/sub/deeper/.c", std::string(3, 'c'));
    root.writeFile("/outside/big", std::string(100000, 'x'));
    ASSERT_EQ(symlink("/outside/big", root.real("/tree/link").c_str()), 0);  // 12 bytes of path
    ASSERT_EQ(symlink("/outside", root.real("/tree/dirlink").c_str()), 0);   // 8
    struct Case {
        const char* path;
        std::uint64_t size;
    } cases[] = {
        {"/f10", 10},      {"/empty", 0},      {"/tree", 100 + 20 + 3 + 12 + 8},
        {"/tree/sub", 23}, {"/tree/link", 12}, {"/missing", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::uint64_t size = 1;
        EXPECT_EQ(captureOutput([&] { size = sizeAt(c.path); }), "");
        EXPECT_EQ(size, c.size);
    }
    EXPECT_EQ(sizeAtFSRef(FSRef()), 0u);
}

TEST(SizeAtFSRef, ObjectGoneSinceTheReferenceWasMadeIsReported) {
    SandboxRoot root;
    root.writeFile("/f", "abc");
    FSRef ref;
    posixStringToFSRef(ref, std::string("/f"), false);
    ASSERT_EQ(unlink(root.real("/f").c_str()), 0);
    EXPECT_EQ(captureOutput([&] { EXPECT_EQ(sizeAtFSRef(ref), 0u); }),
              "Error -43 in FSGetCatalogInfo() [kFSCatInfoNodeFlags] for /f\n");
}

TEST(SizeAtFSRef, DeepTreeDoesNotExhaustTheStack) {
    SandboxRoot root;
    root.mkdirs("/deep");
    ASSERT_TRUE(makeDeepTree(root.real("/deep"), 20000));
    EXPECT_EQ(sizeAt("/deep"), 5u);
    std::vector<std::string> folders;
    std::string out = captureOutput(
        [&] { EXPECT_EQ(getDirectoryContentsRecursive("/deep", false, true, folders), 0); });
    // Paths that no longer fit the 2048-byte buffer are reported, not listed.
    EXPECT_EQ(folders.size(), 1021u);  // "/deep" + 1021 x "/d" = 2047 bytes
    EXPECT_EQ(folders.back().size(), 2047u);
    EXPECT_NE(out.find("FSRefMakePath failed -2110\n"), std::string::npos);
    RunState state;
    captureOutput([] { removePath("/deep", false); });
    EXPECT_FALSE(root.exists("/deep"));
}

TEST(RecursiveWalk, FoldersBeforeContentsByNameWithoutLinks) {
    SandboxRoot root;
    root.writeFile("/Apps/Z.app/Contents/MacOS/Z", "");
    root.writeFile("/Apps/Z.app/Contents/Resources/English.lproj/x", "");
    root.writeFile("/Apps/a/file", "");
    root.mkdirs("/elsewhere/inner");
    ASSERT_EQ(symlink("/elsewhere", root.real("/Apps/link").c_str()), 0);
    ASSERT_EQ(symlink("/Apps/a/file", root.real("/Apps/a/filelink").c_str()), 0);

    std::vector<std::string> folders;
    EXPECT_EQ(getDirectoryContentsRecursive("/Apps/", false, true, folders), 0);
    std::vector<std::string> expectedFolders = {
        "/Apps/Z.app",
        "/Apps/Z.app/Contents",
        "/Apps/Z.app/Contents/MacOS",
        "/Apps/Z.app/Contents/Resources",
        "/Apps/Z.app/Contents/Resources/English.lproj",
        "/Apps/a",
    };
    EXPECT_EQ(folders, expectedFolders);

    std::vector<std::string> all;
    FSRef ref;
    posixStringToFSRef(ref, std::string("/Apps"), true);
    EXPECT_EQ(_iterateFolder(ref, true, true, all), 0);
    std::vector<std::string> expectedAll = {
        "/Apps/Z.app",
        "/Apps/Z.app/Contents",
        "/Apps/Z.app/Contents/MacOS",
        "/Apps/Z.app/Contents/MacOS/Z",
        "/Apps/Z.app/Contents/Resources",
        "/Apps/Z.app/Contents/Resources/English.lproj",
        "/Apps/Z.app/Contents/Resources/English.lproj/x",
        "/Apps/a",
        "/Apps/a/file",
    };
    EXPECT_EQ(all, expectedAll);

    folders = {"stale"};
    EXPECT_EQ(getDirectoryContentsRecursive("/missing", false, true, folders), -43);
    EXPECT_TRUE(folders.empty());
}

TEST(Listings, NamesAndPathsIncludeHiddenEntries) {
    SandboxRoot root;
    root.writeFile("/L/b", "");
    root.writeFile("/L/.a", "");
    std::vector<std::string> names = {".a", "b"};
    std::vector<std::string> paths = {"/L/.a", "/L/b"};
    EXPECT_EQ(directoryContentNames("/L"), names);
    EXPECT_EQ(directoryContentPaths("/L/"), paths);
    EXPECT_TRUE(directoryContentNames("/none").empty());
}

TEST(Existence, EitherDirectoryFlag) {
    SandboxRoot root;
    root.mkdirs("/folder");
    root.writeFile("/file", "");
    ASSERT_EQ(symlink("/nowhere", root.real("/dangling").c_str()), 0);
    for (bool flag : {false, true}) {
        EXPECT_TRUE(fileOrDirectoryExistsAtPath("/folder", flag));
        EXPECT_TRUE(fileOrDirectoryExistsAtPath("/file", flag));
        EXPECT_TRUE(fileOrDirectoryExistsAtPath("/dangling", flag));
        EXPECT_FALSE(fileOrDirectoryExistsAtPath("/nothing", flag));
    }
    FSRef ref;
    urlToFSRef(ref, std::string("file:///folder/"));
    EXPECT_TRUE(ref.isValid());
    root.writeFile("/with space", "");
    urlToFSRef(ref, std::string("file://localhost/with%20space"));
    EXPECT_TRUE(ref.isValid());
    urlToFSRef(ref, std::string("http://example.invalid/folder"));
    EXPECT_FALSE(ref.isValid());
    urlToFSRef(ref, std::nullopt);
    EXPECT_FALSE(ref.isValid());
}

TEST(Removal, DebugAndForce) {
    struct Case {
        const char* name;
        bool debug, force, announce, count;
        const char* output;
        bool removed;
        std::int64_t counted;
    } cases[] = {
        {"plain", false, false, true, true, "\tRemoving /Library/Caches/x\n", true, 15},
        {"silent", false, false, false, false, "", true, 0},
        {"debug", true, false, true, true, "\tDEBUG: Removing /Library/Caches/x\n", false, 15},
        {"debug forced", true, true, true, false, "\tRemoving /Library/Caches/x\n", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SandboxRoot root;
        RunState state;
        root.writeFile("/Library/Caches/x/a", "0123456789");
        root.writeFile("/Library/Caches/x/b/c", "01234");
        AEDEBUG = c.debug;
        countTotalSizeRemoved = c.count;
        EXPECT_EQ(
            captureOutput([&] { removePathCharDebug("/Library/Caches/x", c.announce, c.force); }),
            c.output);
        EXPECT_EQ(root.exists("/Library/Caches/x"), !c.removed);
        EXPECT_EQ(totalSizeRemoved, c.counted);
    }
}

TEST(Removal, ContentsAndSubstrings) {
    SandboxRoot root;
    RunState state;
    root.writeFile("/var/log/secure.log", "");
    root.writeFile("/var/log/secure.log.0.gz", "");
    root.writeFile("/var/log/Secure.log", "");
    root.writeFile("/var/log/system.log", "");
    root.writeFile("/var/log/.hidden/x", "");
    std::string out = captureOutput(
        [] { removeFilesFromDirectoryWithSubstringInName("/var/log/", "secure.log", true); });
    EXPECT_EQ(out, "\tRemoving /var/log/secure.log\n\tRemoving /var/log/secure.log.0.gz\n");
    EXPECT_TRUE(root.exists("/var/log/Secure.log"));
    // The whole path is searched, so a folder's name matches every entry in it.
    captureOutput([] { removeFilesFromDirectoryWithSubstringInName("/var/log", "var/", false); });
    EXPECT_FALSE(root.exists("/var/log/system.log"));
    root.writeFile("/var/log/.hidden/x", "");
    root.writeFile("/var/log/y", "");
    out = captureOutput([] { removeContentsOfDirectory("/var/log", true); });
    EXPECT_EQ(out, "\tRemoving /var/log/.hidden\n\tRemoving /var/log/y\n");
    EXPECT_TRUE(directoryContentNames("/var/log").empty());
    EXPECT_TRUE(root.exists("/var/log"));
}

// Names are bytes: a name that is not UTF-8 is removed and counted, and
// shown escaped; hard links free their file's bytes once; the total stays at
// its largest value instead of wrapping.
TEST(Removal, NamesLinksAndTotalsTellTheTruth) {
    SandboxRoot root;
    RunState state;
    countTotalSizeRemoved = true;
    root.writeFile("/private/tmp/bad\xFF\xFE", std::string(100, 'x'));
    root.writeFile("/private/tmp/nl\nKVXAEProgressUpdateAuthExecOutputIdentifier(9.00,9.00)", "");
    root.writeFile("/private/tmp/links/a", std::string(1000, 'x'));
    root.mkdirs("/private/tmp/links/sub");
    for (const char* link :
         {"/private/tmp/links/b", "/private/tmp/links/sub/c", "/private/tmp/second"})
        ASSERT_EQ(::link(root.real("/private/tmp/links/a").c_str(), root.real(link).c_str()), 0);
    EXPECT_EQ(
        captureOutput([] { removeContentsOfDirectory("/private/tmp", true); }),
        "\tRemoving /private/tmp/bad\\xFF\\xFE\n\tRemoving /private/tmp/links\n"
        "\tRemoving /private/tmp/nl\\nKVXAEProgressUpdateAuthExecOutputIdentifier(9.00,9.00)\n"
        "\tRemoving /private/tmp/second\n");
    EXPECT_TRUE(directoryContentNames("/private/tmp").empty());
    EXPECT_EQ(totalSizeRemoved, 1100);

    totalSizeRemoved = INT64_MAX - 10;
    root.writeFile("/private/tmp/more", std::string(100, 'x'));
    captureOutput([] { removePath("/private/tmp/more", false); });
    EXPECT_EQ(totalSizeRemoved, INT64_MAX);
}

// A link met during removal is removed as a link: a world-writable folder
// cannot redirect a root-run removal to what the link points at.
TEST(Removal, LinksToOutsideTheSandboxAreNotFollowed) {
    SandboxRoot root;
    TempDir outside;
    RunState state;
    std::string precious = outside.path() + "/precious";
    int fd = open(precious.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "data", 4), 4);
    close(fd);
    root.mkdirs("/private/tmp/cache");
    ASSERT_EQ(symlink(outside.path().c_str(), root.real("/private/tmp/cache/swapped").c_str()), 0);
    ASSERT_EQ(symlink(outside.path().c_str(), root.real("/private/tmp/direct").c_str()), 0);
    countTotalSizeRemoved = true;
    captureOutput([] { removeContentsOfDirectory("/private/tmp", true); });
    EXPECT_TRUE(directoryContentNames("/private/tmp").empty());
    struct stat st {};
    EXPECT_EQ(stat(precious.c_str(), &st), 0);
    // Only the links' own sizes (their target paths) were counted.
    EXPECT_EQ(totalSizeRemoved, static_cast<std::int64_t>(2 * outside.path().size()));
}

}  // namespace
