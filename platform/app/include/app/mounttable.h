#pragma once
// The mount table, as getmntinfo and statfs report it: for each mounted file
// system the path it is mounted on, where it is mounted from and its type.
//
// With the root "/" the facts are the kernel's (/proc/self/mountinfo). Under
// a sandbox root they are the sandbox's: the fixed mounts its "/sbin/mount"
// stand-in prints (the startup volume "/dev/disk0s2" on "/", "/dev", "/net",
// "/home") followed by the lines of kSandboxMountTable, which tests write to
// mount and unmount volumes, in the form
//   /dev/disk1s2 on /Volumes/Data (hfs, local, journaled)
// Test programs can leave the fixed mounts out (app::testing::NoFixedMounts).

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace app {

inline constexpr const char* kSandboxMountTable = "/private/var/db/varno-sandbox/mounts";

struct MountInfo {
    QString mountOnName;    // machine path, "/Volumes/Data"
    QString mountFromName;  // "/dev/disk1s2", "devfs", "map -hosts"
    QString fileSystemTypeName;
    bool local = false;  // a local (not network or automounted) file system
    bool operator==(const MountInfo&) const = default;
};

// Every mounted file system, in the table's order; empty when the table
// cannot be read.
std::vector<MountInfo> getmntinfo();

// The file system that holds the path (a machine path): of the mounts whose
// mount-on path is the path or one of its ancestors, the deepest, the later
// one when two mount on the same path. nullopt with *error set to the errno
// value when the path cannot be reached or the table cannot be read.
std::optional<MountInfo> statfs(const QString& machinePath, int* error = nullptr);

// The readers of the two table forms, for tests.
std::vector<MountInfo> parseMountInfo(const QByteArray& text);
std::vector<MountInfo> parseSandboxMountTable(const QByteArray& text);

}  // namespace app
