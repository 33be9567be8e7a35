#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "bundle/bundle.h"
#include "bundle/machofixtures.h"
#include "bundle/replace.h"
#include "host/testing.h"
#include "plist/plist.h"

using bundle::testing::fatMachO;
using bundle::testing::thinMachO;

namespace {

std::string infoPlist(const char* executable, bool binary = false) {
    plist::Dictionary d;
    d["CFBundleIdentifier"] = plist::Value("com.example.app");
    if (executable != nullptr) d["CFBundleExecutable"] = plist::Value(executable);
    return binary ? plist::writeBinary(plist::Value(d)) : plist::writeXML(plist::Value(d));
}

struct StatResult {
    uid_t uid;
    gid_t gid;
    mode_t mode;
};

StatResult statOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return {st.st_uid, st.st_gid, st.st_mode & 07777};
}

}  // namespace

TEST(Bundle, FindsTheExecutableNamedByInfoPlist) {
    host::testing::SandboxRoot root;
    root.writeFile("/Applications/Foo.app/Contents/Info.plist", infoPlist("Foo"));
    root.writeFile("/Applications/Foo.app/Contents/MacOS/Foo",
                   fatMachO({"ppc", "ppc7400", "ppc64", "i386", "x86_64"}), 0755);
    root.writeFile("/Library/PreferencePanes/Bar.prefPane/Contents/Info.plist",
                   infoPlist("Bar Pane", true));
    root.writeFile("/Library/PreferencePanes/Bar.prefPane/Contents/MacOS/Bar Pane",
                   thinMachO("i386"), 0755);

    auto app = bundle::Bundle::create("/Applications/Foo.app/");
    ASSERT_TRUE(app);
    EXPECT_EQ(app->path(), "/Applications/Foo.app");
    EXPECT_EQ(app->executablePath(), "/Applications/Foo.app/Contents/MacOS/Foo");
    // Each CPU type once, in the order of the file.
    EXPECT_EQ(app->executableArchitectures(),
              (std::vector<std::int32_t>{18, 0x01000012, 7, 0x01000007}));

    auto pane = bundle::Bundle::create("/Library/PreferencePanes/Bar.prefPane");
    ASSERT_TRUE(pane);
    EXPECT_EQ(pane->executablePath(),
              "/Library/PreferencePanes/Bar.prefPane/Contents/MacOS/Bar Pane");
    EXPECT_EQ(pane->executableArchitectures(), std::vector<std::int32_t>{7});
}

TEST(Bundle, HasNoExecutableUnlessInfoPlistNamesARegularFileInMacOS) {
    host::testing::SandboxRoot root;
    root.writeFile("/Applications/Outside.app/Contents/MacOS/x", "", 0755);
    root.writeFile("/bin/sh-like", thinMachO("x86_64"), 0755);
    const std::string fat = fatMachO({"ppc", "i386"});
    struct Case {
        const char* app;
        std::string plist;  // empty: no Info.plist
        const char* file;   // created in Contents/MacOS/ when given
    };
    const Case cases[] = {
        {"NoPlist.app", "", "NoPlist"},
        {"NoKey.app", infoPlist(nullptr), "NoKey"},
        {"NotAPlist.app", "garbage", "NotAPlist"},
        {"Missing.app", infoPlist("Missing"), nullptr},
        {"Climbs.app", infoPlist("../../../../bin/sh-like"), nullptr},
        {"DotDot.app", infoPlist(".."), nullptr},
        {"Empty.app", infoPlist(""), nullptr},
    };
    for (const Case& c : cases) {
        std::string dir = std::string("/Applications/") + c.app;
        root.mkdirs(dir + "/Contents/MacOS");
        if (!c.plist.empty()) root.writeFile(dir + "/Contents/Info.plist", c.plist);
        if (c.file != nullptr) root.writeFile(dir + "/Contents/MacOS/" + c.file, fat, 0755);
        auto b = bundle::Bundle::create(dir);
        ASSERT_TRUE(b) << c.app;
        EXPECT_FALSE(b->executablePath()) << c.app;
        EXPECT_TRUE(b->executableArchitectures().empty()) << c.app;
    }

    // A link in place of the executable is not taken.
    root.writeFile("/Applications/Link.app/Contents/Info.plist", infoPlist("Link"));
    root.writeFile("/Applications/Link.app/Contents/MacOS/real", fat, 0755);
    ASSERT_EQ(symlink("real", root.real("/Applications/Link.app/Contents/MacOS/Link").c_str()), 0);
    EXPECT_FALSE(bundle::Bundle::create("/Applications/Link.app")->executablePath());

    // A truncated executable is found but holds no architectures.
    root.writeFile("/Applications/Cut.app/Contents/Info.plist", infoPlist("Cut"));
    root.writeFile("/Applications/Cut.app/Contents/MacOS/Cut", fat.substr(0, 5000), 0755);
    auto cut = bundle::Bundle::create("/Applications/Cut.app");
    EXPECT_TRUE(cut->executablePath());
    EXPECT_TRUE(cut->executableArchitectures().empty());

    EXPECT_FALSE(bundle::Bundle::create("/Applications/None.app"));
    EXPECT_FALSE(bundle::Bundle::create("/bin/sh-like"));
}

TEST(ReplaceFile, KeepsOwnerGroupAndModeOfTheReplacedFile) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "changing owners needs root";
    host::testing::SandboxRoot root;
    std::string exe = root.writeFile("/A.app/Contents/MacOS/A", "old", 0755);
    std::string copy = root.writeFile("/A.app/Contents/MacOS/A.slimmed", "new", 0600);
    ASSERT_EQ(chown(exe.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(exe.c_str(), 04751), 0);

    EXPECT_EQ(bundle::replaceFileKeepingOwnerAndMode("/A.app/Contents/MacOS/A.slimmed",
                                                     "/A.app/Contents/MacOS/A"),
              0);
    EXPECT_EQ(root.readFile("/A.app/Contents/MacOS/A"), "new");
    EXPECT_FALSE(root.exists("/A.app/Contents/MacOS/A.slimmed"));
    StatResult st = statOf(exe);
    EXPECT_EQ(st.uid, 65534u);
    EXPECT_EQ(st.gid, 65534u);
    EXPECT_EQ(st.mode, 04751u);
}

TEST(ReplaceFile, LeavesTheTargetAloneWhenTheCopyIsMissingOrALink) {
    host::testing::SandboxRoot root;
    std::string exe = root.writeFile("/A/exe", "old", 0755);
    std::string secret = root.writeFile("/secret", "keep", 0600);
    ASSERT_EQ(symlink(secret.c_str(), root.real("/A/exe.slimmed").c_str()), 0);

    EXPECT_EQ(bundle::replaceFileKeepingOwnerAndMode("/A/exe.slimmed", "/A/exe"), EINVAL);
    EXPECT_EQ(bundle::replaceFileKeepingOwnerAndMode("/A/none", "/A/exe"), ENOENT);
    EXPECT_EQ(root.readFile("/A/exe"), "old");
    EXPECT_EQ(statOf(secret).mode, 0600u);
    EXPECT_EQ(statOf(exe).mode, 0755u);
}
