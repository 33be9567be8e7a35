// The mount table and the workspace's mount and unmount notifications.

#include <gtest/gtest.h>

#include <QStringList>
#include <cerrno>
#include <vector>

#include "app/mounttable.h"
#include "app/testing.h"
#include "app/workspace.h"
#include "host/testing.h"

namespace {

using app::MountInfo;
using host::testing::SandboxRoot;

QStringList mountPoints(const std::vector<MountInfo>& mounts) {
    QStringList points;
    for (const MountInfo& m : mounts) points << m.mountOnName;
    return points;
}

TEST(MountTable, ReadsTheKernelTable) {
    const QByteArray text =
        "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
        "40 22 0:35 / /mnt/My\\040Disk rw - vfat /dev/sdb1 rw\n"
        "41 22 0:36 / /srv/share rw - nfs4 server:/export rw\n"
        "42 22 0:37 / /proc rw,nosuid - proc proc rw\n"
        "garbage\n";
    const std::vector<MountInfo> mounts = app::parseMountInfo(text);
    ASSERT_EQ(mounts.size(), 4u);
    EXPECT_EQ(mounts[0], (MountInfo{"/", "/dev/sda2", "ext4", true}));
    EXPECT_EQ(mounts[1], (MountInfo{"/mnt/My Disk", "/dev/sdb1", "vfat", true}));
    EXPECT_EQ(mounts[2], (MountInfo{"/srv/share", "server:/export", "nfs4", false}));
    EXPECT_EQ(mounts[3].mountOnName, "/proc");
}

TEST(MountTable, UnderASandboxRootIsTheSandboxTable) {
    SandboxRoot root;
    root.writeFile(app::kSandboxMountTable,
                   "/dev/disk1s2 on /Volumes/Data (hfs, local, journaled, noowners)\n"
                   "/dev/disk2s1 on /Volumes/Data/Inner (msdos, local)\n"
                   "server:/x on /Volumes/Net (nfs)\n"
                   "/dev/disk3s1 on /Volumes/Data (hfs, local)\n"
                   "not a mount line\n");
    const std::vector<MountInfo> mounts = app::getmntinfo();
    EXPECT_EQ(mountPoints(mounts),
              (QStringList{"/", "/dev", "/net", "/home", "/Volumes/Data", "/Volumes/Data/Inner",
                           "/Volumes/Net", "/Volumes/Data"}));
    EXPECT_EQ(mounts[0], (MountInfo{"/", "/dev/disk0s2", "hfs", true}));
    EXPECT_EQ(mounts[2], (MountInfo{"/net", "map -hosts", "autofs", false}));
    EXPECT_EQ(app::mountedLocalVolumePaths(),
              (QStringList{"/", "/dev", "/Volumes/Data", "/Volumes/Data/Inner", "/Volumes/Data"}));

    root.mkdirs("/Volumes/Data/Inner/deep");
    root.mkdirs("/Volumes/Database");
    struct Case {
        const char* path;
        const char* from;  // nullptr: fails with ENOENT
    } cases[] = {
        {"/", "/dev/disk0s2"},
        {"/Volumes/Data", "/dev/disk3s1"},  // the later mount on a path hides the earlier
        {"/Volumes/Data/Inner/deep", "/dev/disk2s1"},
        {"/Volumes/Database", "/dev/disk0s2"},  // a name that only starts alike
        {"/Volumes/Missing", nullptr},
    };
    for (const Case& c : cases) {
        int error = 0;
        const std::optional<MountInfo> m = app::statfs(QString::fromLatin1(c.path), &error);
        if (c.from == nullptr) {
            EXPECT_FALSE(m) << c.path;
            EXPECT_EQ(error, ENOENT) << c.path;
        } else {
            ASSERT_TRUE(m) << c.path;
            EXPECT_EQ(m->mountFromName, QString::fromLatin1(c.from)) << c.path;
        }
    }
}

TEST(Workspace, PostsMountAndUnmountWhenTheSandboxTableChanges) {
    app::testing::ensureApplication();
    SandboxRoot root;
    root.mkdirs("/private/var/db");
    QStringList seen;
    app::NotificationCenter& center = app::workspaceNotificationCenter();
    auto record = [&seen](const app::Notification& n) {
        EXPECT_EQ(n.object, app::workspaceObject());
        seen << n.name + ' ' + n.userInfo.value(app::kWorkspaceDevicePathKey).toString();
    };
    center.addObserver(&seen, app::kWorkspaceDidMountNotification, nullptr, record);
    center.addObserver(&seen, app::kWorkspaceDidUnmountNotification, nullptr, record);

    // The table's folder does not exist yet when watching begins.
    root.writeFile(app::kSandboxMountTable,
                   "/dev/disk1s2 on /Volumes/Data (hfs, local, journaled)\n");
    EXPECT_TRUE(app::testing::waitUntil([&] { return !seen.isEmpty(); }));
    app::testing::spin(100);
    EXPECT_EQ(seen, QStringList{"NSWorkspaceDidMountNotification /Volumes/Data"});

    seen.clear();
    root.writeFile(app::kSandboxMountTable, "/dev/disk2s2 on /Volumes/Backup (hfs, local)\n");
    EXPECT_TRUE(app::testing::waitUntil([&] { return seen.size() >= 2; }));
    app::testing::spin(100);
    EXPECT_EQ(seen, (QStringList{"NSWorkspaceDidUnmountNotification /Volumes/Data",
                                 "NSWorkspaceDidMountNotification /Volumes/Backup"}));
    center.removeObserver(&seen);
}

}  // namespace
