#include "app/workspace.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <algorithm>
#include <memory>

#include "app/mounttable.h"
#include "host/root.h"

namespace app {
namespace {

const char kWorkspace = 0;  // its address is the workspace object

NotificationCenter& center() {
    static NotificationCenter c;
    return c;
}

// Compares the mount table with the one seen last and posts the difference.
class MountWatcher {
  public:
    MountWatcher() : root_(host::systemRoot()), seen_(getmntinfo()) {
        if (host::isSandboxed())
            watchSandboxTable();
        else
            watchKernelTable();
    }
    ~MountWatcher() {
        if (fd_ >= 0) close(fd_);
    }
    MountWatcher(const MountWatcher&) = delete;
    MountWatcher& operator=(const MountWatcher&) = delete;

    const std::string& root() const { return root_; }

  private:
    void watchKernelTable() {
        // The kernel flags an open mountinfo file as exceptional (POLLPRI)
        // after every change of the table.
        fd_ = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return;
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Exception);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { compare(); });
    }

    void watchSandboxTable() {
        table_ = QString::fromStdString(host::realPath(kSandboxMountTable));
        folder_ = QFileInfo(table_).absolutePath();
        watcher_ = std::make_unique<QFileSystemWatcher>();
        // The folder tells of the table being made, replaced or removed; the
        // file of writes into it. A folder that does not exist yet is made
        // by the one who writes the table: watch the one above it then.
        const QString watched =
            QFileInfo(folder_).isDir() ? folder_ : QFileInfo(folder_).absolutePath();
        watcher_->addPath(watched);
        if (QFileInfo(table_).isFile()) watcher_->addPath(table_);
        auto changed = [this] {
            if (QFileInfo(folder_).isDir() && !watcher_->directories().contains(folder_))
                watcher_->addPath(folder_);
            if (QFileInfo(table_).isFile() && !watcher_->files().contains(table_))
                watcher_->addPath(table_);
            compare();
        };
        QObject::connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, watcher_.get(),
                         changed);
        QObject::connect(watcher_.get(), &QFileSystemWatcher::fileChanged, watcher_.get(), changed);
    }

    void compare() {
        std::vector<MountInfo> now = getmntinfo();
        std::vector<MountInfo> gone;
        std::vector<MountInfo> added;
        for (const MountInfo& m : seen_)
            if (std::find(now.begin(), now.end(), m) == now.end()) gone.push_back(m);
        for (const MountInfo& m : now)
            if (std::find(seen_.begin(), seen_.end(), m) == seen_.end()) added.push_back(m);
        seen_ = std::move(now);
        for (const MountInfo& m : gone)
            center().postNotificationName(kWorkspaceDidUnmountNotification, &kWorkspace,
                                          {{kWorkspaceDevicePathKey, m.mountOnName}});
        for (const MountInfo& m : added)
            center().postNotificationName(kWorkspaceDidMountNotification, &kWorkspace,
                                          {{kWorkspaceDevicePathKey, m.mountOnName}});
    }

    std::string root_;
    std::vector<MountInfo> seen_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QString table_;
    QString folder_;
    std::unique_ptr<QFileSystemWatcher> watcher_;
};

}  // namespace

NotificationCenter& workspaceNotificationCenter() {
    // Never destroyed: its notifiers must not outlive the application object
    // at exit, and a leaked watcher at exit harms no one.
    static MountWatcher* watcher = nullptr;
    if (QCoreApplication::instance() != nullptr &&
        (watcher == nullptr || watcher->root() != host::systemRoot())) {
        delete watcher;
        watcher = new MountWatcher();
    }
    return center();
}

const void* workspaceObject() {
    return &kWorkspace;
}

QStringList mountedLocalVolumePaths() {
    QStringList paths;
    for (const MountInfo& m : getmntinfo())
        if (m.local) paths << m.mountOnName;
    return paths;
}

}  // namespace app
