// Every file other programs read at any moment (preferences, launch agents,
// kernel variables, records of held files) is replaced through this one
// function: faults must leave the old file or the new one whole, and the new
// file must end with the rights it is meant to have.
#include "fs/replace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include <string>

#include "host/faults.h"
#include "host/testing.h"
#include "support.h"

namespace {

using host::testing::namesIn;

class Replace : public ::testing::Test {
  protected:
    void SetUp() override { root_.mkdirs("/f"); }
    std::string folder() const { return root_.real("/f"); }
    std::string path(const char* name = "file") const { return folder() + "/" + name; }
    host::testing::SandboxRoot root_;
};

TEST_F(Replace, RightsOfNewAndExistingFiles) {
    // A new file gets the asked-for mode whatever the umask.
    const mode_t mask = umask(077);
    ASSERT_TRUE(vfs::replaceFile(path(), "one", vfs::ReplacementRights::newFileMode(0644)).ok());
    umask(mask);
    struct stat st {};
    ASSERT_EQ(stat(path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(readReal(path()), "one");

    // An existing file's owner and mode carry over.
    ASSERT_EQ(chown(path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(path().c_str(), 0640), 0);
    ASSERT_TRUE(vfs::replaceFile(path(), "two").ok());
    ASSERT_EQ(stat(path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(readReal(path()), "two");

    // An owner asked for wins; without keepExisting so does the mode.
    ASSERT_TRUE(
        vfs::replaceFile(path(), "three", vfs::ReplacementRights::exactly(0600, 0, 0)).ok());
    ASSERT_EQ(stat(path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(namesIn(folder()), std::vector<std::string>{"file"});
}

TEST_F(Replace, LinksAreReplacedNotFollowedAndFoldersRefused) {
    root_.writeFile("/outside", "kept");
    ASSERT_EQ(symlink(root_.real("/outside").c_str(), path("link").c_str()), 0);
    ASSERT_TRUE(vfs::replaceFile(path("link"), "new").ok());
    EXPECT_EQ(readReal(root_.real("/outside")), "kept");
    struct stat st {};
    ASSERT_EQ(lstat(path("link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));

    root_.mkdirs("/f/folder");
    const vfs::ReplaceResult refused = vfs::replaceFile(path("folder"), "x");
    EXPECT_EQ(refused.error, EISDIR);
    EXPECT_EQ(refused.describe("/f/folder"), "cannot replace /f/folder: Is a directory");
    EXPECT_EQ(namesIn(folder()), (std::vector<std::string>{"folder", "link"}));

    // The temporary name of the longest name is still a valid name.
    const std::string longest(NAME_MAX, 'n');
    EXPECT_TRUE(vfs::replaceFile(folder() + "/" + longest, "x").ok());
}

// A file prepared elsewhere (a rewritten executable) is put in place the same
// way, and only if its name still leads to it.
TEST_F(Replace, APreparedFileTakesThePlaceOnlyWhileItsNameLeadsToIt) {
    ASSERT_TRUE(writeReal(path(), "old"));
    ASSERT_EQ(chmod(path().c_str(), 0751), 0);
    const int folderFd = open(folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folderFd, 0);
    ASSERT_TRUE(writeReal(path("copy"), "new"));
    int fd = open(path("copy").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    // Something else is put at the copy's name meanwhile.
    ASSERT_TRUE(writeReal(path("other"), "planted"));
    ASSERT_EQ(rename(path("other").c_str(), path("copy").c_str()), 0);
    vfs::ReplaceResult r = vfs::installReplacementAt(fd, folderFd, "copy", folderFd, "file");
    EXPECT_EQ(r.describe("/f/file"), "cannot replace /f/file: Invalid argument");
    EXPECT_EQ(readReal(path()), "old");

    fd = open(path("copy").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    r = vfs::installReplacementAt(fd, folderFd, "copy", folderFd, "file");
    close(folderFd);
    ASSERT_TRUE(r.ok()) << r.describe("/f/file");
    EXPECT_EQ(readReal(path()), "planted");
    struct stat st {};
    ASSERT_EQ(stat(path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(namesIn(folder()), std::vector<std::string>{"file"});
}

TEST_F(Replace, AFullDiskLeavesTheOldFileAndNoTemporary) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "mounting a small disk needs root";
    if (const std::string& why = host::testing::mountNamespaceRefusal(); !why.empty())
        GTEST_SKIP() << why;
    ASSERT_TRUE(vfs::replaceFile(path(), "old").ok());
    const int status = host::testing::withFullDisk(folder(), 4096, [&] {
        const vfs::ReplaceResult r = vfs::replaceFile(path(), std::string(64 * 1024, 'x'));
        if (r.ok() || r.error != ENOSPC) return 1;
        if (readReal(path()) != "old") return 2;
        return namesIn(folder()) == std::vector<std::string>{".filler", "file"} ? 0 : 3;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(Replace, AKilledWriterLeavesOneWholeFile) {
    const std::string a(300000, 'a'), b(200000, 'b');
    ASSERT_TRUE(vfs::replaceFile(path(), a).ok());
    const host::testing::KillReport report = host::testing::killWhileWriting(
        40, std::chrono::microseconds(20000),
        [&](int i) { (void)vfs::replaceFile(path(), i % 2 ? a : b); },
        [&]() -> std::string {
            const std::string now = readReal(path());
            return now == a || now == b ? "" : "neither version (" + std::to_string(now.size()) + ")";
        });
    EXPECT_EQ(report.killed, 40);
    EXPECT_TRUE(report.failures.empty()) << report.failures.front();
}

}  // namespace
