#pragma once
// The shared workspace's notification center and what it says about volumes.
//
// Once the center has been asked for (with an application object alive), it
// posts kWorkspaceDidMountNotification and kWorkspaceDidUnmountNotification
// from the event loop whenever a file system appears in or leaves the mount
// table (see mounttable.h): with the root "/" when the kernel reports a
// change of the mount table, under a sandbox root when the sandbox's table
// file changes. The object is the workspace (workspaceObject()); the user
// info holds the mount-on path under "NSDevicePath". Asking for the center
// under another system root than before watches that root from then on.

#include <QString>
#include <QStringList>

#include "app/notificationcenter.h"

namespace app {

inline const QString kWorkspaceDidMountNotification =
    QStringLiteral("NSWorkspaceDidMountNotification");
inline const QString kWorkspaceDidUnmountNotification =
    QStringLiteral("NSWorkspaceDidUnmountNotification");
inline const QString kWorkspaceDevicePathKey = QStringLiteral("NSDevicePath");

NotificationCenter& workspaceNotificationCenter();
const void* workspaceObject();

// The mount-on paths of the local file systems, in the table's order.
QStringList mountedLocalVolumePaths();

}  // namespace app
