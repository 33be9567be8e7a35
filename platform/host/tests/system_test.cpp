#include <gtest/gtest.h>
#include <unistd.h>

#include "host/system.h"
#include "host/testing.h"

namespace {

using host::testing::SandboxRoot;

TEST(SystemVersion, PackedFromProductVersion) {
    struct Case {
        const char* text;
        std::int32_t packed;
    } cases[] = {
        {"10.6.8", 0x1068}, {"10.5", 0x1050}, {"10.4.11", 0x1049}, {"10.10.5", 0x1095},
        {"9.2.2", 0x0922},  {"10", 0},        {"10.x", 0},         {"", 0},
        {"10.6.8.1", 0},    {"-10.6", 0},     {"10..6", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(host::packedSystemVersion(c.text), c.packed);
    }
}

TEST(SystemVersion, ReadFromTheRootsSystemVersionFile) {
    SandboxRoot root;
    EXPECT_EQ(host::systemVersion(), 0);
    const char* path = "/System/Library/CoreServices/SystemVersion.plist";
    root.writeFile(path, "not a property list");
    EXPECT_EQ(host::systemVersion(), 0);
    root.writeFile(path,
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                   "\t<key>ProductName</key>\n\t<string>Mac OS X</string>\n"
                   "\t<key>ProductVersion</key>\n\t<string>10.6.8</string>\n</dict>\n</plist>\n");
    EXPECT_EQ(host::systemVersion(), 0x1068);
}

TEST(HomeFolders, FromTheRootsAccountDatabase) {
    SandboxRoot root;
    uid_t me = getuid();
    root.writeFile("/etc/passwd",
                   "nobody:*:-2:-2:Nobody:/var/empty:/usr/bin/false\n"
                   "ann:*:" +
                       std::to_string(me) + ":20:Ann:/Users/ann:/bin/bash\n");
    EXPECT_EQ(host::currentUserHomeFolder(), "/Users/ann");
    EXPECT_EQ(host::homeFolderForUserID(me + 1), std::nullopt);
    EXPECT_EQ(host::homeFolderForUserName("bob"), "/Users/bob");
}

}  // namespace
