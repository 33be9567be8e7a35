// The store behind the shared file lists: order, unique IDs, whole-file
// replacement, and the login items' autostart entries.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "KVXFoundation/LSSharedFileList.h"
#include "autostart.h"
#include "host/faults.h"
#include "host/testing.h"

namespace {

using host::testing::SandboxRoot;
using lsfl::LSSharedFileListItem;

constexpr char kHome[] = "/Users/tester";
constexpr char kList[] = "com.example.RecentThings";
constexpr char kStore[] = "/Users/tester/Library/Preferences/com.example.RecentThings.plist";
constexpr char kAutostart[] = "/Users/tester/.config/autostart";

// A sandbox whose account database gives the running user kHome.
struct Home {
    SandboxRoot root;
    Home() {
        root.writeFile("/etc/passwd", "tester:x:" + std::to_string(getuid()) + ":" +
                                          std::to_string(getgid()) + "::" + kHome + ":/bin/sh\n");
        root.mkdirs(kHome);
    }
    std::string file(const std::string& name) const {
        const std::string path = std::string(kHome) + "/" + name;
        root.writeFile(path, "x");
        return path;
    }
};

std::vector<std::string> paths(const lsfl::LSSharedFileList& list) {
    std::vector<std::string> out;
    auto items = lsfl::LSSharedFileListCopySnapshot(list);
    if (!items) return {"<unreadable>"};
    for (const LSSharedFileListItem& item : *items) out.push_back(item.path);
    return out;
}

std::vector<std::string> folderNames(const SandboxRoot& root, const std::string& machineFolder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(root.real(machineFolder)))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SharedFileListStore, KeepsOrderAndDuplicatesAcrossReloads) {
    Home home;
    const std::string a = home.file("a"), b = home.file("b");
    auto list = lsfl::LSSharedFileListCreate(kList);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->storePath(), kStore);
    EXPECT_EQ(paths(*list), std::vector<std::string>{});

    auto first = lsfl::LSSharedFileListInsertItemURL(*list, a);
    auto second = lsfl::LSSharedFileListInsertItemURL(*list, b);
    auto third = lsfl::LSSharedFileListInsertItemURL(*list, a);
    ASSERT_TRUE(first && second && third);
    EXPECT_LT(first->uniqueID, second->uniqueID);
    EXPECT_LT(second->uniqueID, third->uniqueID);

    auto again = lsfl::LSSharedFileListCreate(kList);
    EXPECT_EQ(paths(*again), (std::vector<std::string>{a, b, a}));

    // Removal goes by entry, and an ID is never handed out twice.
    EXPECT_EQ(lsfl::LSSharedFileListItemRemove(*again, *third), vfs::noErr);
    EXPECT_EQ(lsfl::LSSharedFileListItemRemove(*again, *third), vfs::noErr);  // gone already
    EXPECT_EQ(paths(*list), (std::vector<std::string>{a, b}));
    auto fourth = lsfl::LSSharedFileListInsertItemURL(*list, b);
    ASSERT_TRUE(fourth);
    EXPECT_GT(fourth->uniqueID, third->uniqueID);

    // Another list type is another list.
    auto other = lsfl::LSSharedFileListCreate("com.example.Other");
    EXPECT_EQ(paths(*other), std::vector<std::string>{});
    EXPECT_EQ(lsfl::LSSharedFileListRemoveAllItems(*list), vfs::noErr);
    EXPECT_EQ(paths(*again), std::vector<std::string>{});
}

TEST(SharedFileListStore, ListFileIsReplacedWholeNeverRewrittenInPlace) {
    Home home;
    const std::string a = home.file("a"), b = home.file("b");
    auto list = lsfl::LSSharedFileListCreate(kList);
    ASSERT_TRUE(lsfl::LSSharedFileListInsertItemURL(*list, a));
    const std::string before = *home.root.readFile(kStore);

    // A reader that opened the old file keeps reading it whole: the new list
    // arrived under the name in one rename.
    int reader = open(home.root.real(kStore).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(lsfl::LSSharedFileListInsertItemURL(*list, b));
    std::string seen(before.size() + 100, '\0');
    ssize_t n = pread(reader, seen.data(), seen.size(), 0);
    close(reader);
    ASSERT_GE(n, 0);
    seen.resize(static_cast<size_t>(n));
    EXPECT_EQ(seen, before);
    EXPECT_NE(*home.root.readFile(kStore), before);
    // Nothing is left beside it.
    EXPECT_EQ(folderNames(home.root, "/Users/tester/Library/Preferences"),
              std::vector<std::string>{"com.example.RecentThings.plist"});

    // A temporary file left by a crash before the rename changes nothing.
    home.root.writeFile("/Users/tester/Library/Preferences/.com.example.RecentThings.plist.1.tmp",
                        "<?xml");
    EXPECT_EQ(paths(*list), (std::vector<std::string>{a, b}));
}

TEST(SharedFileListStore, ListItCannotReadIsNeverWrittenOver) {
    Home home;
    const std::string a = home.file("a");
    home.root.writeFile(kStore, "not a property list");
    auto list = lsfl::LSSharedFileListCreate(kList);
    ASSERT_TRUE(list);
    EXPECT_FALSE(lsfl::LSSharedFileListCopySnapshot(*list).has_value());
    EXPECT_FALSE(lsfl::LSSharedFileListInsertItemURL(*list, a).has_value());
    EXPECT_NE(lsfl::LSSharedFileListRemoveAllItems(*list), vfs::noErr);
    EXPECT_NE(lsfl::LSSharedFileListItemRemove(*list, LSSharedFileListItem{1, a}), vfs::noErr);
    EXPECT_EQ(*home.root.readFile(kStore), "not a property list");
}

// Other programs read the list file at any moment: a full disk leaves the old
// list whole (the replacement's own tests also kill its writer).
TEST(SharedFileListStore, AFullDiskKeepsTheListAsItWas) {
    if (const std::string& why = host::testing::mountNamespaceRefusal(); !why.empty())
        GTEST_SKIP() << why;
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "mounting a small disk needs root";
    Home home;
    const std::string first = home.file("first");
    auto list = lsfl::LSSharedFileListCreate(kList);
    ASSERT_TRUE(lsfl::LSSharedFileListInsertItemURL(*list, first));
    const std::string folder = home.root.real("/Users/tester/Library/Preferences");
    const int status = host::testing::withFullDisk(folder, 1024, [&] {
        std::vector<std::string> stored{first};
        // Long paths: the list outgrows what is left after a few entries.
        for (int i = 0; i < 60; ++i) {
            const std::string path = home.file(std::string(200, 'p') + std::to_string(i));
            if (!lsfl::LSSharedFileListInsertItemURL(*list, path)) break;
            stored.push_back(path);
        }
        if (stored.size() == 61) return 1;  // it never filled up
        if (paths(*list) != stored) return 2;
        if (host::testing::namesIn(folder) !=
            std::vector<std::string>{".filler", "com.example.RecentThings.plist"})
            return 3;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST(SharedFileListStore, EntriesStandForFilesThatExist) {
    Home home;
    const std::string a = home.file("a");
    auto list = lsfl::LSSharedFileListCreate(kList);
    for (const char* refused : {"", "relative/a", "/Users/tester/missing"})
        EXPECT_FALSE(lsfl::LSSharedFileListInsertItemURL(*list, refused).has_value()) << refused;
    EXPECT_FALSE(home.root.exists(kStore));

    auto item = lsfl::LSSharedFileListInsertItemURL(*list, a);
    ASSERT_TRUE(item);
    std::string resolved;
    EXPECT_EQ(lsfl::LSSharedFileListItemResolve(*item, 0, &resolved), vfs::noErr);
    EXPECT_EQ(resolved, a);
    ASSERT_EQ(unlink(home.root.real(a).c_str()), 0);
    resolved.clear();
    EXPECT_EQ(lsfl::LSSharedFileListItemResolve(*item, 0, &resolved), vfs::fnfErr);
    EXPECT_EQ(resolved, "");
    // Listed still, as an entry whose file went away.
    EXPECT_EQ(paths(*list), std::vector<std::string>{a});
}

TEST(SharedFileListStore, TypesThatCannotNameAFileGiveNoList) {
    Home home;
    for (const char* type : {"", "a/b", ".hidden", "..", "a\nb", "a\x7f"})
        EXPECT_EQ(lsfl::LSSharedFileListCreate(type), nullptr) << type;
    EXPECT_EQ(lsfl::LSSharedFileListCreate(std::string(201, 'a')), nullptr);
    EXPECT_NE(lsfl::LSSharedFileListCreate(std::string(200, 'a')), nullptr);
}

// Login items.

std::string readAutostart(const Home& home, const std::string& name) {
    return home.root.readFile(std::string(kAutostart) + "/" + name).value_or("<missing>");
}

TEST(SharedFileListLoginItems, EachEntryIsADesktopEntryThatStartsItsFile) {
    Home home;
    const std::string root = home.root.path();
    home.root.writeFile("/Applications/Demo.app/Contents/Info.plist",
                        "<plist><dict><key>CFBundleExecutable</key><string>Demo</string>"
                        "</dict></plist>");
    home.root.writeFile("/Applications/Demo.app/Contents/MacOS/Demo", "", 0755);
    home.root.writeFile("/usr/local/bin/tool", "", 0755);
    home.root.writeFile("/usr/local/bin/100%", "", 0755);
    const std::string odd = std::string(kHome) + "/50% \"off\" $x\\y.txt";
    home.root.writeFile(odd, "");

    struct Case {
        std::string path;
        std::string fileName;
        std::string name;
        std::string exec;
        std::string pathValue;
    };
    const std::vector<Case> cases = {
        {"/Applications/Demo.app", "kvx-1-Demo.desktop", "Demo",
         "\"" + root + "/Applications/Demo.app/Contents/MacOS/Demo\"", "/Applications/Demo.app"},
        {"/usr/local/bin/tool", "kvx-2-tool.desktop", "tool", "\"" + root + "/usr/local/bin/tool\"",
         "/usr/local/bin/tool"},
        // Quoted for the Exec rules ("\", "\"", "$" escaped, "%" doubled),
        // then every backslash doubled as in any string value.
        {odd, "kvx-3-50___off___x_y.txt.desktop", "50% \"off\" $x\\\\y.txt",
         "xdg-open \"" + root + "/Users/tester/50%% \\\\\"off\\\\\" \\\\$x\\\\\\\\y.txt\"",
         "/Users/tester/50% \"off\" $x\\\\y.txt"},
        // A program with "%" in its path is run by the shell.
        {"/usr/local/bin/100%", "kvx-4-100_.desktop", "100%",
         "/bin/sh -c \"exec \\\\\"\\\\$0\\\\\"\" \"" + root + "/usr/local/bin/100%%\"",
         "/usr/local/bin/100%"},
    };
    auto list = lsfl::LSSharedFileListCreate(lsfl::kLSSharedFileListSessionLoginItems);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->autostartFolder(), kAutostart);
    for (const Case& c : cases) {
        ASSERT_TRUE(lsfl::LSSharedFileListInsertItemURL(*list, c.path)) << c.path;
        EXPECT_EQ(readAutostart(home, c.fileName),
                  "[Desktop Entry]\nType=Application\nName=" + c.name + "\nExec=" + c.exec +
                      "\nX-KVX-SharedFileList-ItemID=" + c.fileName.substr(4, 1) +
                      "\nX-KVX-SharedFileList-Path=" + c.pathValue + "\n");
        // Read back, the entry names the same file.
        auto parsed = lsfl::detail::parseDesktopEntry(readAutostart(home, c.fileName));
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->path, c.path);
    }
    EXPECT_EQ(paths(*list),
              (std::vector<std::string>{cases[0].path, cases[1].path, odd, cases[3].path}));

    // No desktop entry can carry a line break in a path.
    const std::string broken = std::string(kHome) + "/two\nlines";
    home.root.writeFile(broken, "");
    EXPECT_FALSE(lsfl::LSSharedFileListInsertItemURL(*list, broken).has_value());
    EXPECT_EQ(folderNames(home.root, kAutostart).size(), 4u);
    EXPECT_EQ(paths(*list).size(), 4u);
}

TEST(SharedFileListLoginItems, RemovalTakesOnlyOurDesktopEntries) {
    Home home;
    const std::string a = home.file("a"), b = home.file("b");
    const std::string foreign = std::string(kAutostart) + "/other.desktop";
    home.root.writeFile(foreign, "[Desktop Entry]\nType=Application\nExec=other\n");
    auto list = lsfl::LSSharedFileListCreate(lsfl::kLSSharedFileListSessionLoginItems);
    auto first = lsfl::LSSharedFileListInsertItemURL(*list, a);
    ASSERT_TRUE(first);
    ASSERT_TRUE(lsfl::LSSharedFileListInsertItemURL(*list, b));
    EXPECT_EQ(folderNames(home.root, kAutostart),
              (std::vector<std::string>{"kvx-1-a.desktop", "kvx-2-b.desktop", "other.desktop"}));

    EXPECT_EQ(lsfl::LSSharedFileListItemRemove(*list, *first), vfs::noErr);
    EXPECT_EQ(folderNames(home.root, kAutostart),
              (std::vector<std::string>{"kvx-2-b.desktop", "other.desktop"}));
    EXPECT_EQ(paths(*list), std::vector<std::string>{b});

    EXPECT_EQ(lsfl::LSSharedFileListRemoveAllItems(*list), vfs::noErr);
    EXPECT_EQ(folderNames(home.root, kAutostart), std::vector<std::string>{"other.desktop"});
    EXPECT_EQ(paths(*list), std::vector<std::string>{});
}

TEST(SharedFileListLoginItems, TheAutostartFolderDecidesWhichEntriesExist) {
    Home home;
    const std::string a = home.file("a"), b = home.file("b"), c = home.file("c"),
                      d = home.file("d");
    auto list = lsfl::LSSharedFileListCreate(lsfl::kLSSharedFileListSessionLoginItems);
    for (const std::string& path : {a, b, c})
        ASSERT_TRUE(lsfl::LSSharedFileListInsertItemURL(*list, path));

    // The user deletes one login item and hides another in the desktop's
    // settings; a desktop entry whose list line never got written (a crash
    // between the two writes) is listed after the others.
    ASSERT_EQ(unlink(home.root.real(std::string(kAutostart) + "/kvx-1-a.desktop").c_str()), 0);
    std::string hidden = readAutostart(home, "kvx-2-b.desktop") + "Hidden=true\n";
    home.root.writeFile(std::string(kAutostart) + "/kvx-2-b.desktop", hidden);
    home.root.writeFile(std::string(kAutostart) + "/kvx-9-d.desktop",
                        "[Desktop Entry]\nX-KVX-SharedFileList-ItemID=9\n"
                        "X-KVX-SharedFileList-Path=" +
                            d + "\n");
    EXPECT_EQ(paths(*list), (std::vector<std::string>{c, d}));

    // New IDs pass every ID in use, hidden ones included.
    auto added = lsfl::LSSharedFileListInsertItemURL(*list, a);
    ASSERT_TRUE(added);
    EXPECT_EQ(added->uniqueID, 10u);
    EXPECT_EQ(paths(*list), (std::vector<std::string>{c, d, a}));
    EXPECT_TRUE(home.root.exists(std::string(kAutostart) + "/kvx-2-b.desktop"));
}

TEST(SharedFileListLoginItems, OnlyOurMarksInTheMainGroupMakeAnEntryOurs) {
    struct Case {
        const char* text;
        bool ours;
        const char* path;
    };
    const Case cases[] = {
        {"[Desktop Entry]\nX-KVX-SharedFileList-ItemID=3\nX-KVX-SharedFileList-Path=/a b \n", true,
         "/a b "},
        {"[Desktop Entry]\r\nX-KVX-SharedFileList-ItemID = 3\r\n"
         "X-KVX-SharedFileList-Path=/a\\\\b\\sc\r\n",
         true, "/a\\b c"},
        {"[Other]\nX-KVX-SharedFileList-ItemID=3\nX-KVX-SharedFileList-Path=/a\n", false, ""},
        {"[Desktop Entry]\nX-KVX-SharedFileList-ItemID=0\nX-KVX-SharedFileList-Path=/a\n", false,
         ""},
        {"[Desktop Entry]\nX-KVX-SharedFileList-ItemID=3x\nX-KVX-SharedFileList-Path=/a\n", false,
         ""},
        {"[Desktop Entry]\nX-KVX-SharedFileList-ItemID=3\nX-KVX-SharedFileList-Path=a\n", false,
         ""},
        {"[Desktop Entry]\nExec=x\n", false, ""},
    };
    for (const Case& c : cases) {
        auto entry = lsfl::detail::parseDesktopEntry(c.text);
        ASSERT_EQ(entry.has_value(), c.ours) << c.text;
        if (entry) {
            EXPECT_EQ(entry->path, c.path) << c.text;
        }
    }
}

}  // namespace
