// The release answers from the system version number.

#include <gtest/gtest.h>

#include <array>
#include <optional>

#include "KVXFoundation/KVXMacOSVersion.h"
#include "host/testing.h"

namespace {

std::array<bool, 9> releases() {
    return {KVXMacOSVersion::osx100(), KVXMacOSVersion::osx101(), KVXMacOSVersion::osx102(),
            KVXMacOSVersion::osx103(), KVXMacOSVersion::osx104(), KVXMacOSVersion::osx105(),
            KVXMacOSVersion::osx106(), KVXMacOSVersion::osx107(), KVXMacOSVersion::osx108()};
}

TEST(MacOSVersion, OneReleaseAnswersForEachNumber) {
    struct Case {
        const char* productVersion;  // nullptr: no version file
        qint32 number;
        int release;  // index of the one YES, or -1
    };
    const Case cases[] = {
        {"10.6.8", 0x1068, 6}, {"10.5", 0x1050, 5},   {"10.4.11", 0x1049, 4},
        {"10.0.4", 0x1004, 0}, {"10.8.5", 0x1085, 8}, {"10.9", 0x1090, -1},
        {"11.2", 0x1120, -1},  {"garbage", 0, -1},    {nullptr, 0, -1},
    };
    for (const Case& c : cases) {
        host::testing::SandboxRoot root;
        if (c.productVersion != nullptr)
            root.writeFile("/System/Library/CoreServices/SystemVersion.plist",
                           std::string("<plist><dict><key>ProductVersion</key><string>") +
                               c.productVersion + "</string></dict></plist>");
        const char* label = c.productVersion ? c.productVersion : "(none)";
        EXPECT_EQ(KVXMacOSVersion::systemVersionNumber(), c.number) << label;
        std::array<bool, 9> expected{};
        if (c.release >= 0) expected[static_cast<size_t>(c.release)] = true;
        EXPECT_EQ(releases(), expected) << label;
    }
}

}  // namespace
