#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "fs/open.h"
#include "fs/overwrite.h"
#include "fs/remove.h"
#include "host/testing.h"
#include "support.h"

namespace {

using host::testing::SandboxRoot;
using host::testing::TempDir;

// Opens a machine path without links and reads what it holds; "errno N" on failure.
std::string readNoLinks(const std::string& path) {
    int fd = vfs::openMachinePathNoLinks(path, O_RDONLY);
    if (fd < 0) return "errno " + std::to_string(errno);
    char buf[64];
    ssize_t n = read(fd, buf, sizeof buf);
    close(fd);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

// Both ways of opening: openat2, and the walk kernels without it take. Links
// only root could have made (in root's folders nobody else may write) are
// the machine's own and followed; any other is refused.
TEST(OpenNoLinks, RefusesLinksOthersCouldMakeAndStaysInTheRoot) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to hand a folder to a user";
    for (bool walk : {false, true}) {
        SCOPED_TRACE(walk ? "walk" : "openat2");
        vfs::forceNoLinksWalkForTesting(walk);
        SandboxRoot root;
        TempDir outside;
        ASSERT_TRUE(writeReal(outside.path() + "/secret", "outside"));
        root.writeFile("/Users/ann/file", "ann");
        root.writeFile("/private/etc/passwd", "etc");
        ASSERT_EQ(chown(root.real("/Users/ann").c_str(), 65534, 65534), 0);
        ASSERT_EQ(symlink("private/etc", root.real("/etc").c_str()), 0);
        ASSERT_EQ(symlink(outside.path().c_str(), root.real("/Users/ann/out").c_str()), 0);
        ASSERT_EQ(symlink("/private/etc", root.real("/Users/ann/etc").c_str()), 0);
        ASSERT_EQ(symlink("file", root.real("/Users/ann/link").c_str()), 0);

        EXPECT_EQ(readNoLinks("/Users/ann/file"), "ann");
        EXPECT_EQ(readNoLinks("//Users/./ann/../ann/file"), "ann");
        EXPECT_EQ(readNoLinks("/etc/passwd"), "etc");
        // ".." at the top stays at the root's own "/".
        EXPECT_EQ(readNoLinks("/../../Users/ann/file"), "ann");
        const std::string eloop = "errno " + std::to_string(ELOOP);
        EXPECT_EQ(readNoLinks("/Users/ann/out/secret"), eloop);
        EXPECT_EQ(readNoLinks("/Users/ann/etc/passwd"), eloop);
        EXPECT_EQ(readNoLinks("/Users/ann/link"), eloop);

        std::string leaf;
        int fd = vfs::openParentFolderNoLinks("/Users/ann/etc/passwd", &leaf);
        EXPECT_EQ(fd, -1);
        EXPECT_EQ(errno, ELOOP);
        fd = vfs::openParentFolderNoLinks("/Users/ann/link", &leaf);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(leaf, "link");
        close(fd);
    }
    vfs::forceNoLinksWalkForTesting(false);
}

TEST(OpenNoLinks, RemovesFolderContentsThroughTheDescriptor) {
    SandboxRoot root;
    TempDir outside;
    ASSERT_TRUE(writeReal(outside.path() + "/kept", "x"));
    root.writeFile("/t/trash/a/b", "1");
    ASSERT_EQ(symlink(outside.path().c_str(), root.real("/t/trash/link").c_str()), 0);
    int fd = vfs::openMachinePathNoLinks("/t/trash", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    // Renamed away after the open: the open folder is still what is emptied.
    ASSERT_EQ(rename(root.real("/t/trash").c_str(), root.real("/t/moved").c_str()), 0);
    EXPECT_EQ(vfs::removeFolderContents(fd, vfs::REMOVEFILE_RECURSIVE), 0);
    close(fd);
    EXPECT_TRUE(root.exists("/t/moved"));
    EXPECT_FALSE(root.exists("/t/moved/a"));
    EXPECT_FALSE(root.exists("/t/moved/link"));
    EXPECT_EQ(readReal(outside.path() + "/kept"), "x");
}

// A bundle folder a user swapped for a link to a machine folder: a root
// removal of a path below it goes nowhere, with or without overwriting.
TEST(OpenNoLinks, RemovalsNeverPassALinkAUserPlanted) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to hand a folder to a user";
    SandboxRoot root;
    root.writeFile("/System/Library/Finder.app/Contents/Resources/French.lproj/x", "keep");
    root.writeFile("/Applications/Evil.app/Contents/Resources/French.lproj/x", "mine");
    ASSERT_EQ(chown(root.real("/Applications/Evil.app").c_str(), 65534, 65534), 0);
    ASSERT_EQ(rename(root.real("/Applications/Evil.app/Contents").c_str(),
                     root.real("/Applications/Evil.app/Old").c_str()),
              0);
    ASSERT_EQ(symlink("../../System/Library/Finder.app/Contents",
                      root.real("/Applications/Evil.app/Contents").c_str()),
              0);
    const std::string path = "/Applications/Evil.app/Contents/Resources/French.lproj";
    EXPECT_EQ(vfs::removefile(path, vfs::REMOVEFILE_RECURSIVE), ELOOP);
    vfs::removefileForOwner(path, vfs::REMOVEFILE_RECURSIVE | vfs::REMOVEFILE_SECURE_1_PASS, 0);
    EXPECT_EQ(readReal(root.real("/System/Library/Finder.app/Contents/Resources/French.lproj/x")),
              "keep");
}

// One refused open (an immutable file opened for writing) says nothing of
// the kernel: later opens still resolve links inside the system root.
TEST(OpenMachinePath, ARefusedOpenLeavesLinksResolvedInTheRoot) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "only root makes a file immutable";
    SandboxRoot root;
    TempDir outside;
    writeReal(outside.path() + "/file", "outside");
    root.writeFile(outside.path() + "/file", "inside");
    ASSERT_EQ(symlink((outside.path() + "/file").c_str(), root.real("/link").c_str()), 0);
    const std::string locked = root.writeFile("/locked", "x");
    const int fd = open(locked.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = FS_IMMUTABLE_FL;
    const bool immutable = fd >= 0 && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (!immutable) {
        if (fd >= 0) close(fd);
        GTEST_SKIP() << "this file system has no immutable files";
    }
    errno = 0;
    const int refused = vfs::openMachinePath("/locked", O_WRONLY);
    const int refusal = errno;
    flags = 0;
    EXPECT_EQ(ioctl(fd, FS_IOC_SETFLAGS, &flags), 0);  // so that the root can go
    close(fd);
    EXPECT_EQ(refused, -1);
    EXPECT_EQ(refusal, EPERM);

    const int linked = vfs::openMachinePath("/link", O_RDONLY);
    ASSERT_GE(linked, 0);
    char buf[16];
    const ssize_t n = read(linked, buf, sizeof buf);
    close(linked);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "inside");
}

}  // namespace
