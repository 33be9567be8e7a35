#include <gtest/gtest.h>
#include <unistd.h>

#include "Utilities.h"
#include "host/testing.h"
#include "utilities_support.h"

namespace {

using host::testing::SandboxRoot;
using utilities_test::captureOutput;

TEST(PathFunctions, UrlPathSemantics) {
    struct Case {
        const char* path;
        const char* last;
        const char* parent;
        const char* withoutExtension;
        std::optional<std::string> extension;
    } cases[] = {
        {"/Library/Caches/com.apple.x.plist", "com.apple.x.plist", "/Library/Caches",
         "/Library/Caches/com.apple.x", "plist"},
        {"/Applications/Mail.app/", "Mail.app", "/Applications", "/Applications/Mail", "app"},
        {"/Users/ann/.profile", ".profile", "/Users/ann", "/Users/ann/.profile", std::nullopt},
        {"/a.d/b", "b", "/a.d", "/a.d/b", std::nullopt},
        {"/a/b.tar.gz", "b.tar.gz", "/a", "/a/b.tar", "gz"},
        {"/top", "top", "/", "/top", std::nullopt},
        {"/", "/", "/", "/", std::nullopt},
        {"relative", "relative", ".", "relative", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(lastPathComponent(c.path, false), c.last);
        EXPECT_EQ(removeLastPathComponent(c.path, false), c.parent);
        EXPECT_EQ(removePathExtension(c.path, false), c.withoutExtension);
        EXPECT_EQ(pathExtension(c.path, false), c.extension);
    }
    EXPECT_EQ(appendPathComponent("/Library", "Caches", true), "/Library/Caches");
    EXPECT_EQ(appendPathComponent("/Library/", "Caches/", true), "/Library/Caches");
    EXPECT_EQ(appendPathComponent("/", "Users", true), "/Users");
    EXPECT_EQ(appendPathComponent("/Users/ann", "", true), "/Users/ann");
}

TEST(PathFunctions, ArraysAndSubstrings) {
    std::vector<std::string> paths = {"/a/English.lproj", "/a/b.LPROJ", "/a/c.lproj/", "/a/d"};
    std::vector<std::string> matching = {"/a/English.lproj", "/a/c.lproj/"};
    EXPECT_EQ(pathsMatchingExtension(&paths, "lproj", true), matching);
    EXPECT_TRUE(pathsMatchingExtension(nullptr, "lproj", true).empty());
    EXPECT_TRUE(arrayContainsString(&paths, "/a/d"));
    EXPECT_FALSE(arrayContainsString(&paths, "/a/D"));
    EXPECT_FALSE(arrayContainsString(nullptr, "/a/d"));
    EXPECT_TRUE(stringContainsSubstring("/var/log/secure.log.0", "secure.log"));
    EXPECT_FALSE(stringContainsSubstring("/var/log/Secure.log", "secure.log"));
}

TEST(Utf8Strings, ConversionsBothWays) {
    EXPECT_EQ(utf8StringFromCFString(std::nullopt), std::nullopt);
    EXPECT_EQ(utf8StringFromCFString("caf\xc3\xa9"), "caf\xc3\xa9");
    EXPECT_EQ(utf8StringFromCFString("a\xff"
                                     "b\xed\xa0\x80"),
              "a?b???");
    EXPECT_EQ(cfStringFromUTF8String(nullptr), std::nullopt);
    EXPECT_EQ(cfStringFromUTF8String("caf\xc3\xa9"), "caf\xc3\xa9");
    EXPECT_EQ(cfStringFromUTF8String("bad\xc3"), std::nullopt);
    EXPECT_EQ(cfStringFromUTF8String("\xc0\xaf"), std::nullopt);  // overlong "/"
}

TEST(HomeFolders, ExpandTildeInPath) {
    SandboxRoot root;
    root.writeFile("/etc/passwd",
                   "ann:*:" + std::to_string(getuid()) + ":20::/Users/ann:/bin/sh\n");
    struct Case {
        std::optional<std::string> path, user;
        const char* expected;
    } cases[] = {
        {"~/Library/Caches", std::nullopt, "/Users/ann/Library/Caches"},
        {"~/Library/Caches", "bob", "/Users/bob/Library/Caches"},
        {"Library/Preferences/", std::nullopt, "/Users/ann/Library/Preferences"},
        {"~/", std::nullopt, "/Users/ann"},
        {"~", "bob", "/Users/bob/~"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.value_or("<absent>"));
        EXPECT_EQ(expandTildeInPath(c.path, c.user), c.expected);
        EXPECT_EQ(utf8StringByExpandingTildeInPath(c.path, c.user), c.expected);
    }
    std::optional<std::string> result = std::string("unset");
    EXPECT_EQ(captureOutput([&] { result = expandTildeInPath(std::nullopt, std::nullopt); }),
              "\t*** Error: expandTildeInPath() thePath zero.\n");
    EXPECT_EQ(result, std::nullopt);
    EXPECT_EQ(userFolderName(), "ann");
}

TEST(HomeFolders, UnknownCurrentUserEndsTheProcess) {
    SandboxRoot root;
    root.writeFile("/etc/passwd", "someone:*:99999:20::/Users/someone:/bin/sh\n");
    EXPECT_EXIT(expandTildeInPath(std::string("~/x"), std::nullopt), ::testing::ExitedWithCode(213),
                "");
    EXPECT_EXIT(userFolderName(), ::testing::ExitedWithCode(213), "");
}

TEST(HomeFolders, UsersAndFirefoxProfiles) {
    SandboxRoot root;
    root.mkdirs("/Users/Shared");
    root.mkdirs("/Users/.hidden");
    root.mkdirs("/Users/bob");
    root.mkdirs("/Users/ann");
    std::vector<std::string> users = {"ann", "bob"};
    EXPECT_EQ(allUserNames(), users);
    const std::string profiles = "/Users/bob/Library/Application Support/Firefox/Profiles";
    root.mkdirs(profiles + "/x1.default");
    root.writeFile(profiles + "/.DS_Store", "");
    std::vector<std::string> expected = {profiles + "/x1.default"};
    EXPECT_EQ(firefoxProfileFolderPaths(std::string("bob")), expected);
    EXPECT_TRUE(firefoxProfileFolderPaths(std::string("ann")).empty());
}

}  // namespace
