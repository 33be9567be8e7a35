// Folder listings, references and sizes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <QDir>
#include <cstdio>
#include <string>

#include "KVXFoundation/KVXNSFileManagerAdditions.h"
#include "fs/remove.h"
#include "host/testing.h"

namespace {

using host::testing::SandboxRoot;
using namespace KVXNSFileManagerAdditions;

vfs::FSRef refTo(const char* machinePath) {
    return urlToFSRef(QUrl::fromLocalFile(machinePath), false);
}

// What the call printed to standard output, and its result.
template <typename F>
std::string printed(F call) {
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
}

TEST(FileManagerAdditions, ListsAFolderAsFullPaths) {
    SandboxRoot root;
    root.writeFile("/t/b", "");
    root.writeFile("/t/.hidden", "");
    root.mkdirs("/t/a");
    const QStringList expected = {"/t/.hidden", "/t/a", "/t/b"};
    std::error_code error;
    EXPECT_EQ(directoryContentsPathsAtPath("/t", &error), expected);
    EXPECT_EQ(directoryContentsPathsAtPath("/t/", &error), expected);
    EXPECT_FALSE(error);
    EXPECT_EQ(directoryContentsPathsAtPath("/t/a", &error), QStringList{});
    EXPECT_FALSE(error);

    struct Case {
        const char* path;
        std::errc error;
    };
    for (Case c : {Case{"/missing", std::errc::no_such_file_or_directory},
                   Case{"/t/b", std::errc::not_a_directory}}) {
        error.clear();
        EXPECT_EQ(directoryContentsPathsAtPath(c.path, &error), QStringList{}) << c.path;
        EXPECT_EQ(error, std::make_error_condition(c.error)) << c.path;
    }
    EXPECT_EQ(directoryContentsPathsAtPath("/missing", nullptr), QStringList{});
}

TEST(FileManagerAdditions, ReferencesFromPathsAndURLs) {
    SandboxRoot root;
    root.writeFile("/t/file", "");
    const vfs::FSRef file = refTo("/t/file");
    ASSERT_TRUE(file.isValid());
    EXPECT_EQ(file.path(), "/t/file");
    EXPECT_EQ(posixStringToFSRef("/t/file", false), file);
    EXPECT_EQ(posixStringToFSRef("/t/", true), refTo("/t"));

    // A relative path is taken from the current folder.
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(root.real("/t"))));
    const vfs::FSRef relative = posixStringToFSRef("file", false);
    ASSERT_TRUE(QDir::setCurrent(previous));
    EXPECT_EQ(relative, file);

    for (const QUrl& url : {QUrl(), QUrl("http://example.com/t/file"), QUrl("file:///t/missing")})
        EXPECT_FALSE(urlToFSRef(url, false).isValid()) << url.toString().toStdString();
    EXPECT_FALSE(posixStringToFSRef("", false).isValid());
}

TEST(FileManagerAdditions, SizesAreLogicalDataSizesOfTheWholeTree) {
    SandboxRoot root;
    root.mkdirs("/empty");
    root.writeFile("/t/ten", "0123456789");
    root.writeFile("/t/sub/five", "01234");
    root.mkdirs("/t/sub/empty");
    root.writeFile("/outside/big", std::string(1000, 'x'));
    // A link counts as itself (its target's name), never as what it names.
    ASSERT_EQ(symlink("../outside", root.real("/t/sub/link").c_str()), 0);

    struct Case {
        const char* path;
        quint64 size;
    };
    for (Case c :
         {Case{"/empty", 0}, Case{"/t/ten", 10}, Case{"/t/sub/link", 10}, Case{"/t", 15 + 10}}) {
        vfs::FSRef ref = refTo(c.path);
        ASSERT_TRUE(ref.isValid()) << c.path;
        std::string out = printed([&] { EXPECT_EQ(sizeAtFSRef(&ref), c.size) << c.path; });
        EXPECT_EQ(out, "") << c.path;
    }
}

TEST(FileManagerAdditions, ItemsThatCannotBeLookedUpArePrintedAndCountNothing) {
    SandboxRoot root;
    root.writeFile("/t/gone", "abc");
    const vfs::FSRef gone = refTo("/t/gone");
    ASSERT_EQ(unlink(root.real("/t/gone").c_str()), 0);
    const vfs::FSRef zero;

    quint64 size = 1;
    EXPECT_EQ(printed([&] { size = sizeAtFSRef(&gone); }),
              "Error -43 in FSGetCatalogInfo() [kFSCatInfoNodeFlags] for /t/gone\n");
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(printed([&] { size = sizeAtFSRef(&zero); }),
              "Error -35 in FSGetCatalogInfo() for some random object...\n");
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(printed([&] { size = sizeAtFSRef(nullptr); }),
              "Error -50 in FSGetCatalogInfo() for some random object...\n");
    EXPECT_EQ(size, 0u);

    // Replaced by another file of the same name: not the item referred to.
    // (The old file is held open so that its inode is not handed on.)
    root.writeFile("/t/old", "abc");
    root.writeFile("/t/new", "abcdef");
    const vfs::FSRef old = refTo("/t/old");
    int held = open(root.real("/t/old").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(rename(root.real("/t/new").c_str(), root.real("/t/old").c_str()), 0);
    EXPECT_EQ(printed([&] { size = sizeAtFSRef(&old); }),
              "Error -43 in FSGetCatalogInfo() [kFSCatInfoNodeFlags] for /t/old\n");
    EXPECT_EQ(size, 0u);
    close(held);
}

// Builds `depth` nested folders "d" by descriptor (the full path soon
// exceeds PATH_MAX) with a 5-byte file at the bottom.
bool makeDeepTree(const std::string& realFolder, int depth) {
    int fd = open(realFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; fd >= 0 && i < depth; ++i) {
        int next =
            mkdirat(fd, "d", 0755) == 0 ? openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        close(fd);
        fd = next;
    }
    if (fd < 0) return false;
    int file = openat(fd, "bottom", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    bool ok = file >= 0 && write(file, "12345", 5) == 5;
    if (file >= 0) close(file);
    close(fd);
    return ok;
}

struct SizeJob {
    vfs::FSRef ref;
    quint64 size = 0;
};

TEST(FileManagerAdditions, DeepTreeOnASmallStack) {
    SandboxRoot root;
    root.mkdirs("/deep");
    ASSERT_TRUE(makeDeepTree(root.real("/deep"), 20000));
    SizeJob job{refTo("/deep")};
    ASSERT_TRUE(job.ref.isValid());

    // 256 KiB of stack: a walk that recursed per level would run out.
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 256 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void* data) -> void* {
                      auto* j = static_cast<SizeJob*>(data);
                      j->size = sizeAtFSRef(&j->ref);
                      return nullptr;
                  },
                  &job),
              0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(job.size, 5u);
    EXPECT_EQ(vfs::removefile("/deep", vfs::REMOVEFILE_RECURSIVE), 0);
}

}  // namespace
