// The application's preferences domain is read by the agent at any moment: a
// full disk leaves the old domain whole, never a cut or missing file, and the
// store says the write failed. (How a killed writer is survived is the one
// file replacement's own test to show.)
#include <gtest/gtest.h>
#include <unistd.h>

#include "host/faults.h"
#include "host/testing.h"
#include "queuestore.h"

namespace {

constexpr const char* kPreferences = "/var/root/Library/Preferences";

TEST(VarnoWriters, AFullDiskLeavesTheDomainAsItWas) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "mounting a small disk needs root";
    if (const std::string& why = host::testing::mountNamespaceRefusal(); !why.empty())
        GTEST_SKIP() << why;
    host::testing::SandboxRoot root;
    root.writeFile("/etc/passwd", "root:*:0:0::/var/root:/bin/sh\n");
    root.mkdirs(kPreferences);
    varno::QueueStore store;
    varno::StoreError error;
    const QVariantMap configuration{{"KVXAEIdentifierAuthExecConfigurationKey", QString(100, 'a')}};
    ASSERT_EQ(store.add("q", configuration, &error), 1) << error.message.toStdString();
    const std::optional<QMap<QString, QVariantList>> before = store.queues(&error);
    ASSERT_TRUE(before) << error.message.toStdString();
    const std::string folder = root.real(kPreferences);
    const int status = host::testing::withFullDisk(folder, 8192, [&] {
        const QVariantMap big{{"KVXAEIdentifierAuthExecConfigurationKey", QString(40000, 'b')}};
        if (store.add("big", big, &error)) return 1;
        if (error.kind != varno::StoreError::Kind::WriteFailed) return 2;
        // Named by its machine path, as Varno tells it.
        if (!error.message.contains(
                QStringLiteral(" %1/com.kvxlabs.Varno2.plist").arg(kPreferences)))
            return 3;
        if (store.queues(&error) != before) return 4;
        if (host::testing::namesIn(folder) !=
            std::vector<std::string>{".filler", "com.kvxlabs.Varno2.plist"})
            return 5;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
