// Preference domains and launch agent property lists are read by other
// programs at any moment: a full disk or a writer killed at any point must
// leave the old file or the new one whole, never a cut or missing one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>

#include "app/propertylistfile.h"
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
    // "" when the domain holds exactly one of the two dictionaries.
    std::string problemWithDomain(const QVariantMap& a, const QVariantMap& b) const {
        const app::DictionaryFile read = app::persistentDomainForName(kDomain);
        if (read.state != app::FileState::Present) return "the domain is missing or unreadable";
        return read.dictionary == a || read.dictionary == b ? "" : "neither version";
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
        if (!error.contains(QStringLiteral("com.kvxlabs.Varno2.plist"))) return 2;
        if (!problemWithDomain(before, before).empty()) return 3;
        // No half-written temporary is left beside it.
        if (namesIn(folder) != std::vector<std::string>{".filler", "com.kvxlabs.Varno2.plist"})
            return 4;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(AppWriters, AKilledWriterLeavesOneWholePreferencesDomain) {
    const QVariantMap a = dictionaryOf(QChar('a'), 3000), b = dictionaryOf(QChar('b'), 2000);
    ASSERT_TRUE(app::setPersistentDomain(a, kDomain));
    const host::testing::KillReport report = host::testing::killWhileWriting(
        40, std::chrono::microseconds(40000),
        [&](int i) { app::setPersistentDomain(i % 2 ? a : b, kDomain); },
        [&] { return problemWithDomain(a, b); });
    EXPECT_EQ(report.killed, 40);
    EXPECT_TRUE(report.failures.empty()) << report.failures.front();
}

// A launch agent's property list is written the same way, with its own mode;
// a full disk keeps the old one, mode and all.
TEST_F(AppWriters, AFullDiskLeavesALaunchAgentAsItWas) {
    if (const std::string& why = host::testing::mountNamespaceRefusal(); !why.empty())
        GTEST_SKIP() << why;
    const std::string folder = root_.real("/Users/tester/Library/LaunchAgents");
    root_.mkdirs("/Users/tester/Library/LaunchAgents");
    const QString path =
        QString::fromStdString(folder) + QStringLiteral("/com.kvxlabs.agent.plist");
    const QVariantMap before{{QStringLiteral("Label"), QStringLiteral("com.kvxlabs.agent")},
                             {QStringLiteral("Disabled"), false}};
    QString error;
    ASSERT_TRUE(app::writeDictionaryFile(path, before, &error, 0644)) << error.toStdString();
    const int status = withFullDisk(folder, 4096, [&] {
        QVariantMap bigger = dictionaryOf(QChar('c'), 400);
        bigger.insert(before);
        if (app::writeDictionaryFile(path, bigger, nullptr, 0644)) return 1;
        const app::DictionaryFile read = app::readDictionaryFile(path);
        if (read.state != app::FileState::Present || read.dictionary != before) return 2;
        if (!(QFile::permissions(path) & QFileDevice::ReadOther)) return 3;
        if (namesIn(folder) != std::vector<std::string>{".filler", "com.kvxlabs.agent.plist"})
            return 4;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
