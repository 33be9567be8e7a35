// KVXLSSharedFileList in file URLs.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "KVXFoundation/KVXLSSharedFileList.h"
#include "host/testing.h"

namespace {

using host::testing::SandboxRoot;

constexpr char kList[] = "com.example.Favorites";

struct Fixture {
    SandboxRoot root;
    QUrl a, b, c;
    Fixture() {
        root.writeFile("/etc/passwd", "tester:x:" + std::to_string(getuid()) + ":" +
                                          std::to_string(getgid()) + "::/Users/tester:/bin/sh\n");
        a = file("/Users/tester/a");
        b = file("/Users/tester/b b");
        c = file("/Users/tester/c");
    }
    QUrl file(const char* path) const {
        root.writeFile(path, "");
        return QUrl::fromLocalFile(path);
    }
};

QStringList listed(const KVXLSSharedFileList& list) {
    QStringList paths;
    for (const lsfl::LSSharedFileListItem& item : list.files())
        paths.append(QString::fromStdString(item.path));
    return paths;
}

TEST(KVXLSSharedFileList, AnEmptyListHasNoURL) {
    Fixture f;
    KVXLSSharedFileList list(kList);
    ASSERT_NE(list.listRef(), nullptr);
    EXPECT_TRUE(list.files().isEmpty());
    EXPECT_FALSE(list.fileExistsWithURL(f.a));
    // Removing from an empty list removes nothing and succeeds.
    EXPECT_TRUE(list.removeFileWithURL(f.a));
    EXPECT_TRUE(list.files().isEmpty());
}

TEST(KVXLSSharedFileList, OrderSurvivesAReload) {
    Fixture f;
    {
        KVXLSSharedFileList list(kList);
        for (const QUrl& url : {f.c, f.a, f.b}) EXPECT_TRUE(list.addFileWithURL(url));
    }
    KVXLSSharedFileList again(kList);
    EXPECT_EQ(listed(again),
              (QStringList{"/Users/tester/c", "/Users/tester/a", "/Users/tester/b b"}));
    for (const QUrl& url : {f.a, f.b, f.c}) EXPECT_TRUE(again.fileExistsWithURL(url));
    EXPECT_TRUE(again.removeAllFiles());
    EXPECT_TRUE(again.files().isEmpty());
}

TEST(KVXLSSharedFileList, RemovingAnAbsentURLReturnsYesAndChangesNothing) {
    Fixture f;
    KVXLSSharedFileList list(kList);
    ASSERT_TRUE(list.addFileWithURL(f.a));
    ASSERT_TRUE(list.addFileWithURL(f.b));
    const std::string before = f.root.readFile(list.listRef()->storePath()).value_or("");
    for (const QUrl& absent : {f.c, QUrl::fromLocalFile("/Users/tester/a/"),
                               QUrl("http://example.com/Users/tester/a"), QUrl()})
        EXPECT_TRUE(list.removeFileWithURL(absent)) << absent.toString().toStdString();
    EXPECT_EQ(listed(list), (QStringList{"/Users/tester/a", "/Users/tester/b b"}));
    EXPECT_EQ(f.root.readFile(list.listRef()->storePath()).value_or(""), before);
}

TEST(KVXLSSharedFileList, AURLListedTwiceLosesOnlyItsFirstEntry) {
    Fixture f;
    KVXLSSharedFileList list(kList);
    for (const QUrl& url : {f.a, f.b, f.a}) ASSERT_TRUE(list.addFileWithURL(url));
    const QList<lsfl::LSSharedFileListItem> before = list.files();
    ASSERT_EQ(before.size(), 3);

    EXPECT_TRUE(list.removeFileWithURL(f.a));
    EXPECT_EQ(list.files(), (QList<lsfl::LSSharedFileListItem>{before[1], before[2]}));
    EXPECT_TRUE(list.fileExistsWithURL(f.a));
    EXPECT_TRUE(list.removeFileWithURL(f.a));
    EXPECT_FALSE(list.fileExistsWithURL(f.a));
    EXPECT_EQ(list.files(), QList<lsfl::LSSharedFileListItem>{before[1]});
}

TEST(KVXLSSharedFileList, EntriesWhoseFileIsGoneNeverMatch) {
    Fixture f;
    KVXLSSharedFileList list(kList);
    ASSERT_TRUE(list.addFileWithURL(f.a));
    ASSERT_EQ(unlink(f.root.real("/Users/tester/a").c_str()), 0);
    EXPECT_FALSE(list.fileExistsWithURL(f.a));
    EXPECT_TRUE(list.removeFileWithURL(f.a));  // nothing matches
    EXPECT_EQ(list.files().size(), 1);
    EXPECT_FALSE(list.addFileWithURL(f.a));  // no file to add
    EXPECT_FALSE(list.addFileWithURL(QUrl("http://example.com/x")));
}

TEST(KVXLSSharedFileList, WithoutAListNothingSucceeds) {
    Fixture f;
    KVXLSSharedFileList list(QStringLiteral("no/such/type"));
    EXPECT_EQ(list.listRef(), nullptr);
    EXPECT_TRUE(list.files().isEmpty());
    EXPECT_FALSE(list.fileExistsWithURL(f.a));
    EXPECT_FALSE(list.addFileWithURL(f.a));
    EXPECT_FALSE(list.removeFileWithURL(f.a));
    EXPECT_FALSE(list.removeAllFiles());

    // A list that cannot be read is not claimed to lack the file.
    f.root.writeFile("/Users/tester/Library/Preferences/com.example.Favorites.plist", "garbage");
    KVXLSSharedFileList unreadable(kList);
    EXPECT_FALSE(unreadable.removeFileWithURL(f.a));

    // Handed another list, the object works on that one.
    list.setListRef(lsfl::LSSharedFileListCreate("com.example.Other"));
    EXPECT_TRUE(list.addFileWithURL(f.b));
    EXPECT_EQ(listed(list), QStringList{"/Users/tester/b b"});
}

TEST(KVXLSSharedFileList, LoginItemsStartAtLogin) {
    Fixture f;
    KVXLSSharedFileList list(QString::fromLatin1(lsfl::kLSSharedFileListSessionLoginItems));
    ASSERT_TRUE(list.addFileWithURL(f.c));
    const std::string entry = "/Users/tester/.config/autostart/kvx-1-c.desktop";
    ASSERT_TRUE(f.root.exists(entry));
    EXPECT_NE(
        f.root.readFile(entry)->find("Exec=xdg-open \"" + f.root.path() + "/Users/tester/c\"\n"),
        std::string::npos);
    EXPECT_TRUE(list.fileExistsWithURL(f.c));
    EXPECT_TRUE(list.removeFileWithURL(f.c));
    EXPECT_FALSE(f.root.exists(entry));
    EXPECT_FALSE(list.fileExistsWithURL(f.c));
}

}  // namespace
