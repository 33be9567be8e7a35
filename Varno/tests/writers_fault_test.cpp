// The application's preferences domain is read by the agent at any moment: a
// full disk or a writer killed midway leaves the old domain or the new one
// whole, never a cut or missing file.
#include <gtest/gtest.h>
#include <unistd.h>

#include "host/faults.h"
#include "host/testing.h"
#include "userdefaultsdomain.h"

namespace {

constexpr const char* kHome = "/Users/tester";
constexpr const char* kPreferences = "/Users/tester/Library/Preferences";

QVariantMap dictionaryOf(QChar fill, int entries) {
    QVariantMap d;
    for (int i = 0; i < entries; ++i) d.insert(QStringLiteral("key%1").arg(i), QString(100, fill));
    return d;
}

class VarnoWriters : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "mounting a small disk needs root";
        root_.mkdirs(kPreferences);
    }
    host::testing::SandboxRoot root_;
    varno::UserDefaultsDomain domain_{QStringLiteral("com.kvxlabs.Varno2"),
                                      QString::fromUtf8(kHome)};
};

TEST_F(VarnoWriters, AFullDiskLeavesTheDomainAsItWas) {
    if (const std::string& why = host::testing::mountNamespaceRefusal(); !why.empty())
        GTEST_SKIP() << why;
    const QVariantMap before = dictionaryOf(QChar('a'), 10);
    ASSERT_TRUE(domain_.write(before));
    const std::string folder = root_.real(kPreferences);
    const int status = host::testing::withFullDisk(folder, 8192, [&] {
        QString error;
        if (domain_.write(dictionaryOf(QChar('b'), 400), &error)) return 1;
        if (!error.startsWith(QStringLiteral("cannot write "))) return 2;
        if (domain_.read() != before) return 3;
        if (host::testing::namesIn(folder) !=
            std::vector<std::string>{".filler", "com.kvxlabs.Varno2.plist"})
            return 4;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(VarnoWriters, AKilledWriterLeavesOneWholeDomain) {
    const QVariantMap a = dictionaryOf(QChar('a'), 3000), b = dictionaryOf(QChar('b'), 2000);
    ASSERT_TRUE(domain_.write(a));
    const host::testing::KillReport report = host::testing::killWhileWriting(
        40, std::chrono::microseconds(40000), [&](int i) { domain_.write(i % 2 ? a : b); },
        [&]() -> std::string {
            const std::optional<QVariantMap> read = domain_.read();
            if (!read) return "the domain cannot be read";
            return *read == a || *read == b ? "" : "neither version";
        });
    EXPECT_EQ(report.killed, 40);
    EXPECT_TRUE(report.failures.empty()) << report.failures.front();
}

}  // namespace
