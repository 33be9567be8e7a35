// Preference domains and launch agent property lists are read by other
// programs at any moment, and are replaced whole through one replacement
// (whose own tests also kill its writer): a full disk must leave the old file.
#include <gtest/gtest.h>
#include <unistd.h>

#include "app/userdefaults.h"
#include "host/faults.h"
#include "host/testing.h"

namespace {

using host::testing::namesIn;
using host::testing::withFullDisk;

constexpr const char* kHome = "/Users/tester";
constexpr const char* kPreferences = "/Users/tester/Library/Preferences";
const QString kDomain = QStringLiteral("com.kvxlabs.Varno2");

QVariantMap dictionaryOf(QChar fill, int entries) {
    QVariantMap d;
    for (int i = 0; i < entries; ++i) d.insert(QStringLiteral("key%1").arg(i), QString(100, fill));
    return d;
}

class AppWriters : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "mounting a small disk needs root";
        root_.writeFile("/etc/passwd",
                        "tester:*:" + std::to_string(getuid()) + ":20:T:" + kHome + ":/bin/sh\n");
        root_.mkdirs(kPreferences);
    }
    // True when the domain holds exactly this dictionary.
    static bool domainHolds(const QVariantMap& expected) {
        const app::DictionaryFile read = app::persistentDomainForName(kDomain);
        return read.state == app::FileState::Present && read.dictionary == expected;
    }
    host::testing::SandboxRoot root_;
};

TEST_F(AppWriters, AFullDiskLeavesThePreferencesDomainAsItWas) {
    if (const std::string& why = host::testing::mountNamespaceRefusal(); !why.empty())
        GTEST_SKIP() << why;
    const QVariantMap before = dictionaryOf(QChar('a'), 10);
    ASSERT_TRUE(app::setPersistentDomain(before, kDomain));
    const std::string folder = root_.real(kPreferences);
    const int status = withFullDisk(folder, 8192, [&] {
        QString error;
        if (app::setPersistentDomain(dictionaryOf(QChar('b'), 400), kDomain, &error)) return 1;
        if (error != QString::fromStdString("cannot write " + folder +
                                            "/com.kvxlabs.Varno2.plist: No space left on device"))
            return 2;
        if (!domainHolds(before)) return 3;
        // No half-written temporary is left beside it.
        if (namesIn(folder) != std::vector<std::string>{".filler", "com.kvxlabs.Varno2.plist"})
            return 4;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
