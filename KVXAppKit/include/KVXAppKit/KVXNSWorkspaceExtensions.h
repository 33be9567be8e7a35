#pragma once
// KVXNSWorkspaceExtensions: the local volumes the windows offer (the startup
// volume and those under "/Volumes"), which of them can be written, which of
// those are HFS or UFS volumes, and a short text for a byte count.
//
// Paths are machine paths; the mount table is the host's (app::getmntinfo),
// so under a sandbox system root it is the sandbox's.

#include <QString>
#include <QStringList>

namespace KVXNSWorkspaceExtensions {

// The mount-on paths of all mounted file systems, in the table's order, that
// are "/" or whose second path component is "Volumes".
QStringList mountedLocalVolumePathsCarbon();

// Those of mountedLocalVolumePathsCarbon, in order, that are writable. A path
// whose file system cannot be asked (it cannot be reached) is left out: no
// volume is offered for writing unless its file system said it may be.
QStringList mountedLocalWritableVolumes();

// Those of mountedLocalWritableVolumes, in order, whose file system type is
// "hfs" or "ufs" (in any case); paths whose file system cannot be asked are
// left out.
QStringList mountedLocalWritableHFSVolumes();

// True when the path is one of mountedLocalWritableHFSVolumes, compared as
// strings ("/Volumes/Data/" is not "/Volumes/Data").
bool isMountedLocalWritableHFSVolume(const QString& path);

// "999B", "1000B", "2KB", "2.5MB", "3200.0TB": decimal units up to TB, the
// number with no decimals in B and KB and one decimal from MB on.
QString sizeStringForBytes(double bytes);

}  // namespace KVXNSWorkspaceExtensions
