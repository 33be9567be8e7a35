#include "KVXAppKit/KVXNSWorkspaceExtensions.h"

#include <sys/statvfs.h>

#include <array>
#include <optional>

#include "app/mounttable.h"
#include "host/root.h"

namespace KVXNSWorkspaceExtensions {
namespace {

bool isLocalVolumePath(const QString& path) {
    if (path == QStringLiteral("/")) return true;
    // The second component of "/Volumes/..." after the leading "/".
    return path.section('/', 1, 1) == QStringLiteral("Volumes") && path.startsWith('/');
}

// Whether the file system at the path takes writes; nullopt when it cannot
// be asked.
std::optional<bool> isWritableFileSystem(const QString& machinePath) {
    struct statvfs info {};
    const std::string real = host::realPath(machinePath.toStdString());
    if (statvfs(real.c_str(), &info) != 0) return std::nullopt;
    return (info.f_flag & ST_RDONLY) == 0;
}

}  // namespace

QStringList mountedLocalVolumePathsCarbon() {
    QStringList paths;
    for (const app::MountInfo& mount : app::getmntinfo())
        if (isLocalVolumePath(mount.mountOnName)) paths.append(mount.mountOnName);
    return paths;
}

QStringList mountedLocalWritableVolumes() {
    QStringList paths;
    for (const QString& path : mountedLocalVolumePathsCarbon())
        if (isWritableFileSystem(path).value_or(false)) paths.append(path);
    return paths;
}

QStringList mountedLocalWritableHFSVolumes() {
    QStringList paths;
    for (const QString& path : mountedLocalWritableVolumes()) {
        const std::optional<app::MountInfo> fileSystem = app::statfs(path);
        if (!fileSystem) continue;
        const QString type = fileSystem->fileSystemTypeName.toLower();
        if (type == QStringLiteral("hfs") || type == QStringLiteral("ufs")) paths.append(path);
    }
    return paths;
}

bool isMountedLocalWritableHFSVolume(const QString& path) {
    return mountedLocalWritableHFSVolumes().contains(path);
}

QString sizeStringForBytes(double bytes) {
    static constexpr std::array<const char*, 5> kUnits = {"B", "KB", "MB", "GB", "TB"};
    size_t unit = 0;
    double value = bytes;
    while (value > 1000 && unit + 1 < kUnits.size()) {
        value /= 1000;
        ++unit;
    }
    const char* format = unit <= 1 ? "%.0f%s" : "%.1f%s";
    return QString::asprintf(format, value, kUnits[unit]);
}

}  // namespace KVXNSWorkspaceExtensions
