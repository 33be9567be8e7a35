#include "host/spotlight.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/testing.h"
#include "plist/plist.h"

namespace {

using host::testing::SandboxRoot;
using Paths = std::vector<std::string>;

TEST(SpotlightExclusions, NoListUntilOneIsWritten) {
    SandboxRoot root;
    EXPECT_EQ(host::_MDCopyExclusionList(), std::nullopt);
    // Removing from a missing list has nothing to write.
    EXPECT_EQ(host::_MDSetExclusion("/Volumes/Data", false), 0);
    EXPECT_FALSE(root.exists(host::kSpotlightVolumeConfiguration));

    EXPECT_EQ(host::_MDSetExclusion("/Volumes/Data", true), 0);
    EXPECT_EQ(host::_MDCopyExclusionList(), Paths{"/Volumes/Data"});
    struct stat st {};
    ASSERT_EQ(stat(root.real(host::kSpotlightStoreFolder).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST(SpotlightExclusions, AddsOnceRemovesEveryEqualEntryAndComparesExactly) {
    SandboxRoot root;
    ASSERT_EQ(host::_MDSetExclusion("/Volumes/A", true), 0);
    ASSERT_EQ(host::_MDSetExclusion("/Volumes/B/", true), 0);
    ASSERT_EQ(host::_MDSetExclusion("/Volumes/A", true), 0);
    EXPECT_EQ(host::_MDCopyExclusionList(), (Paths{"/Volumes/A", "/Volumes/B/"}));

    ASSERT_EQ(host::_MDSetExclusion("/Volumes/B", false), 0);  // not "/Volumes/B/"
    EXPECT_EQ(host::_MDCopyExclusionList(), (Paths{"/Volumes/A", "/Volumes/B/"}));

    // A list written by someone else may hold duplicates and other types.
    plist::Dictionary d;
    d["Exclusions"] = plist::Value(plist::Array{plist::Value("/x"), plist::Value::integer(3),
                                                plist::Value("/y"), plist::Value("/x")});
    root.writeFile(host::kSpotlightVolumeConfiguration, plist::writeXML(plist::Value(d)));
    EXPECT_EQ(host::_MDCopyExclusionList(), (Paths{"/x", "/y", "/x"}));
    ASSERT_EQ(host::_MDSetExclusion("/x", false), 0);
    EXPECT_EQ(host::_MDCopyExclusionList(), Paths{"/y"});
}

TEST(SpotlightExclusions, OtherKeysSurviveAndUnreadableFilesAreLeftAlone) {
    SandboxRoot root;
    plist::Dictionary stores;
    stores["Policy"] = plist::Value::integer(3);
    plist::Dictionary d;
    d["Stores"] = plist::Value(stores);
    const std::string real = root.writeFile(host::kSpotlightVolumeConfiguration,
                                            plist::writeBinary(plist::Value(d)), 0640);
    ASSERT_EQ(chown(real.c_str(), 65534, 65534) == 0, host::testing::runningAsRoot());
    struct stat before {};
    ASSERT_EQ(stat(real.c_str(), &before), 0);
    ASSERT_EQ(host::_MDSetExclusion("/", true), 0);
    auto written = plist::parse(*root.readFile(host::kSpotlightVolumeConfiguration));
    ASSERT_TRUE(written);
    d["Exclusions"] = plist::Value(plist::Array{plist::Value("/")});
    EXPECT_EQ(*written, plist::Value(d));
    // The file keeps its owner and mode.
    struct stat st {};
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, before.st_uid);
    EXPECT_EQ(st.st_gid, before.st_gid);

    for (const std::string& bad :
         {std::string("not a list"), plist::writeXML(plist::Value("a string")),
          plist::writeXML(plist::Value(plist::Dictionary{{"Exclusions", plist::Value("/")}}))}) {
        SCOPED_TRACE(bad);
        root.writeFile(host::kSpotlightVolumeConfiguration, bad);
        EXPECT_EQ(host::_MDCopyExclusionList(), std::nullopt);
        EXPECT_EQ(host::_MDSetExclusion("/Volumes/X", true), EINVAL);
        EXPECT_EQ(root.readFile(host::kSpotlightVolumeConfiguration), bad);
    }
}

// Changes from several processes at once all land: each reads and replaces
// the whole file under the lock.
TEST(SpotlightExclusions, ConcurrentChangesAreNotLost) {
    SandboxRoot root;
    constexpr int kWriters = 8;
    std::vector<pid_t> children;
    for (int i = 0; i < kWriters; ++i) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int k = 0; k < 10; ++k) {
                std::string path = "/Volumes/V" + std::to_string(i) + "-" + std::to_string(k);
                if (host::_MDSetExclusion(path, true) != 0) ++failures;
            }
            _exit(failures);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto list = host::_MDCopyExclusionList();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->size(), static_cast<size_t>(kWriters * 10));
}

}  // namespace
