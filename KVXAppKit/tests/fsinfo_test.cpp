// The disk information cache, on the event loop, against the sandbox's disk
// utility.

#include "KVXAppKit/KVXFSInfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "app/plistbridge.h"
#include "app/task.h"
#include "app/testing.h"
#include "app/workspace.h"
#include "fsinfo_sandbox.h"

namespace {

using namespace fsinfo_testing;
using Runs = std::vector<std::vector<std::string>>;

const QString kPrefix = QStringLiteral("[KVXFSInfo] ");

class FSInfoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app::testing::ensureApplication();
        sandbox::build(root_);
        app::NotificationCenter::defaultCenter().addObserver(
            this, KVXFSInfoDidUpdateNotification, nullptr, [this](const app::Notification& n) {
                EXPECT_EQ(n.object, nullptr);
                EXPECT_TRUE(n.userInfo.isEmpty());
                ++updates_;
            });
        info_ = std::make_unique<KVXFSInfo>();
    }
    void TearDown() override {
        info_.reset();
        app::NotificationCenter::defaultCenter().removeObserver(this);
    }

    // Two whole disks and two volumes: the startup volume and "/Volumes/Data".
    void describeTwoDisks() {
        writeListing(root_, {"disk0", "disk1"});
        writeDescription(root_, "disk0", diskDescription("disk0"));
        writeDescription(root_, "disk1", diskDescription("disk1"));
        writeDescription(root_, "disk0s2", volumeDescription("disk0s2", "/"));
        writeDescription(root_, "disk1s2", volumeDescription("disk1s2", "/Volumes/Data", false));
        writeMountTable(root_, {{"/dev/disk1s2", "/Volumes/Data"}});
    }

    bool waitForUpdates(int count) {
        bool done = app::testing::waitUntil([&] { return updates_ >= count; }, 20000);
        app::testing::spin(100);  // nothing more may follow
        return done;
    }

    QStringList fsinfoLines() const {
        QStringList lines;
        for (const QString& line : logs_.lines())
            if (line.startsWith(kPrefix)) lines << line.mid(kPrefix.size());
        return lines;
    }

    static QStringList ids(const QVariantList& list) {
        QStringList result;
        for (const QVariant& item : list)
            result << item.toMap().value("DeviceIdentifier").toString();
        return result;
    }

    host::testing::SandboxRoot root_;
    app::testing::LogCapture logs_;
    std::unique_ptr<KVXFSInfo> info_;
    int updates_ = 0;
};

const Runs kTwoDiskRuns = {{"list", "-plist"},
                           {"info", "-plist", "disk0"},
                           {"info", "-plist", "disk1"},
                           {"info", "-plist", "/dev/disk0s2"},
                           {"info", "-plist", "/dev/disk1s2"}};

TEST_F(FSInfoTest, BeforeAnyUpdateListsAreEmptyAndNothingRuns) {
    describeTwoDisks();
    app::testing::spin(200);
    EXPECT_TRUE(info_->allDisksInfo().isEmpty());
    EXPECT_TRUE(info_->allVolumesInfo().isEmpty());
    EXPECT_FALSE(info_->infoForVolumeWithMountPoint("/"));
    EXPECT_FALSE(info_->infoForVolumeWithDeviceNode("/dev/disk0s2"));
    EXPECT_FALSE(info_->infoForDiskWithDeviceNode("/dev/disk0"));
    EXPECT_EQ(info_->currentUpdateStage(), KVXFSInfoUpdateStageIdle);
    EXPECT_TRUE(diskutilRuns(root_).empty());
    EXPECT_EQ(updates_, 0);
}

TEST_F(FSInfoTest, AFullUpdateRunsOneChildPerDeviceInOrderAndPostsOnce) {
    describeTwoDisks();
    info_->updateCache();
    EXPECT_EQ(info_->currentUpdateStage(), KVXFSInfoUpdateStageListingDisks);
    ASSERT_TRUE(waitForUpdates(1));
    EXPECT_EQ(updates_, 1);
    EXPECT_EQ(diskutilRuns(root_), kTwoDiskRuns);
    EXPECT_EQ(info_->currentUpdateStage(), KVXFSInfoUpdateStageIdle);
    EXPECT_EQ(fsinfoLines(), (QStringList{"updateCache", "postInfoDidUpdateNotification"}));

    // Descriptions are kept whole, in device order.
    ASSERT_EQ(info_->allDisksInfo().size(), 2);
    EXPECT_EQ(info_->allDisksInfo()[0].toMap(), app::mapFromPlist(diskDescription("disk0")));
    EXPECT_EQ(ids(info_->allVolumesInfo()), (QStringList{"disk0s2", "disk1s2"}));
    const auto data = info_->infoForVolumeWithMountPoint("/Volumes/Data");
    ASSERT_TRUE(data);
    EXPECT_EQ(data->value(KVXGlobalPermissionsEnabledFSInfoKey), QVariant(false));
    EXPECT_EQ(info_->infoForVolumeWithDeviceNode("/dev/disk0s2")->value(KVXMountPointFSInfoKey),
              QVariant("/"));
    EXPECT_EQ(ids({*info_->infoForDiskWithDeviceNode("/dev/disk1")}), QStringList{"disk1"});
    EXPECT_FALSE(info_->infoForDiskWithDeviceNode("/dev/disk0s2"));
    EXPECT_FALSE(info_->infoForVolumeWithMountPoint("/Volumes"));
}

TEST_F(FSInfoTest, RequestsDuringAnUpdateCollapseIntoOneFreshUpdate) {
    describeTwoDisks();
    info_->updateCache();
    info_->updateCache();
    info_->updateCache();
    EXPECT_EQ(info_->currentUpdateStage(), KVXFSInfoUpdateStageRestart);
    ASSERT_TRUE(waitForUpdates(1));
    EXPECT_EQ(updates_, 1);
    EXPECT_EQ(fsinfoLines(),
              (QStringList{"updateCache", "updateCache: restart.", "updateCache: restart.",
                           "Interrupted. Starting new update.", "updateCache",
                           "postInfoDidUpdateNotification"}));
    Runs expected = kTwoDiskRuns;
    expected.insert(expected.begin(), {"list", "-plist"});
    EXPECT_EQ(diskutilRuns(root_), expected);
    EXPECT_EQ(ids(info_->allDisksInfo()), (QStringList{"disk0", "disk1"}));
}

TEST_F(FSInfoTest, ReadersKeepTheLastSnapshotWhileAnUpdateRuns) {
    describeTwoDisks();
    info_->updateCache();
    ASSERT_TRUE(waitForUpdates(1));
    const QVariantList disks = info_->allDisksInfo();
    const QVariantList volumes = info_->allVolumesInfo();

    writeListing(root_, {"disk1"});
    setDelay(root_, "0.3");
    info_->updateCache();
    ASSERT_TRUE(app::testing::waitUntil(
        [&] { return info_->currentUpdateStage() == KVXFSInfoUpdateStageQueryingVolumes; }, 20000));
    EXPECT_EQ(info_->allDisksCachedInfo_working().size(), 1);
    EXPECT_EQ(info_->allDisksInfo(), disks);
    EXPECT_EQ(info_->allVolumesInfo(), volumes);

    // A restart empties the working lists, not the cached ones.
    info_->updateCache();
    ASSERT_TRUE(app::testing::waitUntil(
        [&] { return info_->currentUpdateStage() == KVXFSInfoUpdateStageListingDisks; }, 20000));
    EXPECT_TRUE(info_->allDisksCachedInfo_working().isEmpty());
    EXPECT_TRUE(info_->allVolumesCachedInfo_working().isEmpty());
    EXPECT_EQ(info_->allDisksInfo(), disks);
    EXPECT_EQ(info_->allVolumesInfo(), volumes);

    ASSERT_TRUE(waitForUpdates(2));
    EXPECT_EQ(updates_, 2);
    EXPECT_EQ(ids(info_->allDisksInfo()), QStringList{"disk1"});
    EXPECT_EQ(info_->allVolumesInfo(), volumes);
}

TEST_F(FSInfoTest, NoDisksAndNoVolumesCompleteAtOnceWithEmptyLists) {
    describeTwoDisks();
    info_->updateCache();
    ASSERT_TRUE(waitForUpdates(1));
    ASSERT_FALSE(info_->allVolumesInfo().isEmpty());

    struct Case {
        const char* what;
        std::string listing;
    } cases[] = {
        {"an empty list of whole disks",
         plist::writeXML(plist::Dictionary{{"WholeDisks", plist::Array{}}})},
        {"no list of whole disks",
         plist::writeXML(plist::Dictionary{{"AllDisks", plist::Array{}}})},
    };
    // The startup volume stays in the table; unknown to the utility, it drops out.
    unlink(root_.real(std::string(kDescribed) + "/disk0s2.plist").c_str());
    root_.writeFile(app::kSandboxMountTable, "");
    int expected = 1;
    for (const Case& c : cases) {
        unlink(root_.real(sandbox::kJournalPath).c_str());
        root_.writeFile(std::string(kDescribed) + "/list.plist", c.listing);
        info_->updateCache();
        ASSERT_TRUE(waitForUpdates(++expected)) << c.what;
        EXPECT_EQ(updates_, expected) << c.what;
        EXPECT_EQ(diskutilRuns(root_),
                  (Runs{{"list", "-plist"}, {"info", "-plist", "/dev/disk0s2"}}))
            << c.what;
        EXPECT_TRUE(info_->allDisksInfo().isEmpty()) << c.what;
        EXPECT_TRUE(info_->allVolumesInfo().isEmpty()) << c.what;
    }
}

TEST_F(FSInfoTest, NoVolumeDeviceNodesCompleteTheUpdateAtOnce) {
    describeTwoDisks();
    info_->updateCache();
    ASSERT_TRUE(waitForUpdates(1));
    ASSERT_FALSE(info_->allVolumesInfo().isEmpty());

    // Not even a startup volume: the volume stage has no device to ask about.
    app::testing::NoFixedMounts noFixedMounts;
    root_.writeFile(app::kSandboxMountTable, "");
    ASSERT_TRUE(info_->allVolumeDeviceNodes().isEmpty());
    struct Case {
        const char* what;
        std::vector<std::string> disks;
        Runs runs;
        QStringList described;
    } cases[] = {
        {"whole disks but no volumes",
         {"disk0"},
         {{"list", "-plist"}, {"info", "-plist", "disk0"}},
         {"disk0"}},
        {"neither disks nor volumes", {}, {{"list", "-plist"}}, {}},
    };
    int expected = 1;
    for (const Case& c : cases) {
        unlink(root_.real(sandbox::kJournalPath).c_str());
        writeListing(root_, c.disks);
        info_->updateCache();
        ASSERT_TRUE(waitForUpdates(++expected)) << c.what;
        EXPECT_EQ(updates_, expected) << c.what;
        EXPECT_EQ(info_->currentUpdateStage(), KVXFSInfoUpdateStageIdle) << c.what;
        EXPECT_EQ(diskutilRuns(root_), c.runs) << c.what;
        EXPECT_EQ(ids(info_->allDisksInfo()), c.described) << c.what;
        EXPECT_TRUE(info_->allVolumesInfo().isEmpty()) << c.what;
    }
}

TEST_F(FSInfoTest, DevicesTheUtilityCannotDescribeAreDropped) {
    describeTwoDisks();
    writeListing(root_, {"disk0", "disk9", "disk7", "disk1"});
    // A reply that is no property list: logged, and dropped like an unknown device.
    root_.writeFile(std::string(kDescribed) + "/disk7.plist",
                    "<?xml version=\"1.0\"?>\n<plist><dict><key>x</key></dict></plist>\n");
    info_->updateCache();
    ASSERT_TRUE(waitForUpdates(1));
    EXPECT_EQ(ids(info_->allDisksInfo()), (QStringList{"disk0", "disk1"}));
    EXPECT_EQ(ids(info_->allVolumesInfo()), (QStringList{"disk0s2", "disk1s2"}));
    const Runs runs = diskutilRuns(root_);
    ASSERT_EQ(runs.size(), 7u);
    EXPECT_EQ(runs[2], (std::vector<std::string>{"info", "-plist", "disk9"}));
    EXPECT_EQ(runs[3], (std::vector<std::string>{"info", "-plist", "disk7"}));
    const QStringList lines = fsinfoLines();
    ASSERT_EQ(lines.size(), 3) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[1].startsWith("infoByParsingInfoString: ")) << lines[1].toStdString();
}

TEST_F(FSInfoTest, ParsingTheUtilitysOutput) {
    const QString document = QString::fromStdString(plist::writeXML(diskDescription("disk3")));
    struct Case {
        const char* what;
        QString text;
        bool parsed;
        bool logged;
    } cases[] = {
        {"a description", document, true, false},
        {"no output", "", false, false},
        {"an unknown device", "Could not find disk: disk3\n", false, false},
        {"the reply inside a document", document + "Could not find \n", false, false},
        {"a one-line document", "<dict><key>a</key><string>b</string></dict>", false, true},
        {"an array", "<?xml version=\"1.0\"?>\n<array/>\n", false, true},
    };
    for (const Case& c : cases) {
        const int before = static_cast<int>(fsinfoLines().size());
        const QVariantMap info = info_->infoByParsingInfoString(c.text);
        EXPECT_EQ(info, c.parsed ? app::mapFromPlist(diskDescription("disk3")) : QVariantMap())
            << c.what;
        EXPECT_EQ(fsinfoLines().size() > before, c.logged) << c.what;
    }
}

TEST_F(FSInfoTest, PredicatesRequireOnlyTheValuesADescriptionHas) {
    const QVariantMap a{{"Internal", true}, {"FilesystemType", "hfs"}, {"DeviceNode", "/dev/a"}};
    const QVariantMap b{{"Internal", false}, {"DeviceNode", "/dev/b"}};
    const QVariantMap c{{"FilesystemType", "msdos"}, {"DeviceNode", "/dev/c"}};
    const QVariantList all{a, b, c};
    struct Case {
        const char* what;
        QVariantMap predicate;
        QVariantList expected;
    } cases[] = {
        {"empty predicate keeps all, in order", {}, all},
        {"a missing key excludes nothing", {{"Internal", true}}, {a, c}},
        {"a different value excludes", {{"FilesystemType", "hfs"}}, {a, b}},
        {"every key must hold", {{"Internal", true}, {"FilesystemType", "msdos"}}, {c}},
        {"a string is not a boolean", {{"Internal", "1"}}, {c}},
        {"an unknown key keeps all", {{"SMARTStatus", "Failing"}}, all},
    };
    for (const Case& k : cases)
        EXPECT_EQ(info_->filteredInfo(all, k.predicate), k.expected) << k.what;
    EXPECT_TRUE(info_->acceptInfo({}, {{"Internal", true}}));
}

TEST_F(FSInfoTest, PredicatesFilterTheCachedLists) {
    describeTwoDisks();
    info_->updateCache();
    ASSERT_TRUE(waitForUpdates(1));
    EXPECT_EQ(ids(info_->allVolumesInfoWithPredicateInfo({{"GlobalPermissionsEnabled", false}})),
              QStringList{"disk1s2"});
    EXPECT_EQ(ids(info_->allDisksInfoWithPredicateInfo({{"DeviceNode", "/dev/disk0"}})),
              QStringList{"disk0"});
}

TEST_F(FSInfoTest, MountPointsAreTheStartupVolumeAndThoseUnderVolumes) {
    writeMountTable(root_, {{"/dev/disk1s2", "/Volumes"},
                            {"/dev/disk2s2", "/Volumes/Data"},
                            {"/dev/disk3s2", "/VolumesOld"},
                            {"/dev/disk4s2", "/private/Volumes/x"},
                            {"/dev/disk5s2", "/Volumes/Data/Inner"},
                            {"/dev/disk6s2", "/Volumes/Gone"}});
    root_.writeFile(app::kSandboxMountTable, "server:/x on /Volumes/Net (nfs, nodev)\n" +
                                                 *root_.readFile(app::kSandboxMountTable));
    root_.mkdirs("/Volumes/Net");
    rmdir(root_.real("/Volumes/Gone").c_str());
    const QStringList expected{"/", "/Volumes", "/Volumes/Data", "/Volumes/Data/Inner",
                               "/Volumes/Gone"};
    QStringList all = expected;
    all.insert(1, "/Volumes/Net");
    EXPECT_EQ(info_->allVolumeMountPoints(), all);
    EXPECT_EQ(info_->allVolumeMountPointsFromNSWorkspace(), expected);

    // A mount point statfs cannot reach is logged and left out.
    EXPECT_EQ(
        info_->allVolumeDeviceNodes(),
        (QStringList{"/dev/disk0s2", "server:/x", "/dev/disk1s2", "/dev/disk2s2", "/dev/disk5s2"}));
    EXPECT_EQ(fsinfoLines(),
              QStringList{"statfs error 2 getting device node for mount point /Volumes/Gone"});
}

TEST_F(FSInfoTest, DeviceNodeOfNoMountPointIsNilWithoutALogLine) {
    EXPECT_TRUE(info_->deviceNodeForMountPoint(QString()).isNull());
    EXPECT_EQ(info_->deviceNodeForMountPoint("/"), "/dev/disk0s2");
    EXPECT_TRUE(fsinfoLines().isEmpty());
}

TEST_F(FSInfoTest, AnotherChildOfTheApplicationChangesNothing) {
    describeTwoDisks();
    auto runOther = [] {
        auto other = std::make_shared<app::Task>();
        other->setLaunchPath("/usr/bin/last");
        other->setStandardOutput(std::make_shared<app::Pipe>());
        EXPECT_TRUE(other->launch());
        return other;
    };
    auto idle = runOther();
    ASSERT_TRUE(app::testing::waitUntil([&] { return !idle->isRunning(); }));
    app::testing::spin(100);
    EXPECT_EQ(info_->currentUpdateStage(), KVXFSInfoUpdateStageIdle);
    EXPECT_EQ(updates_, 0);
    EXPECT_TRUE(fsinfoLines().isEmpty());

    setDelay(root_, "0.2");
    info_->updateCache();
    auto during = runOther();  // ends well before the listing does
    ASSERT_TRUE(waitForUpdates(1));
    EXPECT_FALSE(during->isRunning());
    EXPECT_EQ(updates_, 1);
    EXPECT_EQ(diskutilRuns(root_), kTwoDiskRuns);
    EXPECT_EQ(ids(info_->allDisksInfo()), (QStringList{"disk0", "disk1"}));
}

TEST_F(FSInfoTest, MountNotificationsUpdateOnlyWhileAutomaticUpdatingIsOn) {
    describeTwoDisks();
    app::testing::spin(300);  // the table written above has been seen
    app::NotificationCenter& workspace = app::workspaceNotificationCenter();
    info_->setAutomaticallyUpdatesCache(true);
    info_->setAutomaticallyUpdatesCache(true);  // still one registration
    app::testing::spin(100);
    EXPECT_EQ(updates_, 0);  // setting the flag starts nothing
    workspace.postNotificationName(app::kWorkspaceDidUnmountNotification, app::workspaceObject());
    EXPECT_EQ(fsinfoLines(), QStringList{"updateCache"});
    ASSERT_TRUE(waitForUpdates(1));

    // A volume mounted in the sandbox's table.
    writeDescription(root_, "disk2s2", volumeDescription("disk2s2", "/Volumes/Backup"));
    writeMountTable(root_,
                    {{"/dev/disk1s2", "/Volumes/Data"}, {"/dev/disk2s2", "/Volumes/Backup"}});
    ASSERT_TRUE(app::testing::waitUntil(
        [&] { return ids(info_->allVolumesInfo()).contains("disk2s2"); }, 20000));
    ASSERT_TRUE(waitForUpdates(2));

    info_->setAutomaticallyUpdatesCache(false);
    const int updates = updates_;
    const size_t runs = diskutilRuns(root_).size();
    writeMountTable(root_, {{"/dev/disk1s2", "/Volumes/Data"}});
    workspace.postNotificationName(app::kWorkspaceDidMountNotification, app::workspaceObject());
    app::testing::spin(500);
    EXPECT_EQ(updates_, updates);
    EXPECT_EQ(diskutilRuns(root_).size(), runs);
    EXPECT_EQ(info_->currentUpdateStage(), KVXFSInfoUpdateStageIdle);
}

TEST_F(FSInfoTest, AUtilityThatCannotStartEndsTheUpdateWithEmptyLists) {
    describeTwoDisks();
    info_->updateCache();
    ASSERT_TRUE(waitForUpdates(1));
    ASSERT_EQ(unlink(root_.real("/usr/sbin/diskutil").c_str()), 0);
    info_->updateCache();
    info_->updateCache();  // a restart works the same without a child
    ASSERT_TRUE(waitForUpdates(2));
    EXPECT_EQ(updates_, 2);
    EXPECT_EQ(info_->currentUpdateStage(), KVXFSInfoUpdateStageIdle);
    EXPECT_TRUE(info_->allDisksInfo().isEmpty());
    EXPECT_TRUE(info_->allVolumesInfo().isEmpty());
    // The list child and one per volume device node could not start.
    EXPECT_EQ(fsinfoLines().filter("cannot start /usr/sbin/diskutil").size(), 4);
    EXPECT_EQ(fsinfoLines().filter("Interrupted. Starting new update.").size(), 1);
}

TEST_F(FSInfoTest, ALargeDescriptionArrivesWhole) {
    describeTwoDisks();
    plist::Dictionary big = diskDescription("disk1");
    big["DeviceTreePath"] = std::string(400000, 'p');
    writeDescription(root_, "disk1", big);
    info_->updateCache();
    ASSERT_TRUE(waitForUpdates(1));
    ASSERT_EQ(info_->allDisksInfo().size(), 2);
    EXPECT_EQ(info_->allDisksInfo()[1].toMap(), app::mapFromPlist(big));
}

}  // namespace
