#pragma once
// KVXFSInfo: an always-ready cache of the machine's disks and mounted
// volumes, filled by running the disk utility once per device, one child
// after another, from the event loop. Readers get the lists of the last
// completed update without waiting; a completed update replaces both lists at
// once and posts KVXFSInfoDidUpdateNotification on the default notification
// center. Beside the cache: filtering by required values, lookups, and live
// queries of the mount table.
//
// Types: a description is the QVariantMap of the utility's "info -plist"
// output, kept whole; a list of descriptions is a QVariantList of them. A
// nil string is a null QString; a nil description is nullopt.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <cstdint>
#include <memory>
#include <optional>

#include "app/notificationcenter.h"
#include "app/task.h"

// Keys of the utility's descriptions; each value is the utility's key itself.
extern const QString KVXBootableFSInfoKey;
extern const QString KVXBusProtocolFSInfoKey;
extern const QString KVXCanBeMadeBootableFSInfoKey;
extern const QString KVXCanBeMadeBootableRequiresDestroyFSInfoKey;
extern const QString KVXContentFSInfoKey;
extern const QString KVXDeviceIdentifierFSInfoKey;
extern const QString KVXDeviceNodeFSInfoKey;
extern const QString KVXDeviceTreePathFSInfoKey;
extern const QString KVXEjectableFSInfoKey;
extern const QString KVXFilesystemNameFSInfoKey;
extern const QString KVXFilesystemTypeFSInfoKey;
extern const QString KVXFilesystemUserVisibleNameFSInfoKey;
extern const QString KVXFreeSpaceFSInfoKey;
extern const QString KVXGlobalPermissionsEnabledFSInfoKey;
extern const QString KVXIOKitSizeFSInfoKey;
extern const QString KVXInternalFSInfoKey;
extern const QString KVXJournalOffsetFSInfoKey;
extern const QString KVXJournalSizeFSInfoKey;
extern const QString KVXLowLevelFormatSupportedFSInfoKey;
extern const QString KVXMediaNameFSInfoKey;
extern const QString KVXMediaTypeFSInfoKey;
extern const QString KVXMountPointFSInfoKey;
extern const QString KVXOS9DriversInstalledFSInfoKey;
extern const QString KVXOwnersFSInfoKey;
extern const QString KVXParentWholeDiskFSInfoKey;
extern const QString KVXRAIDMasterFSInfoKey;
extern const QString KVXRAIDSliceFSInfoKey;
extern const QString KVXSMARTStatusFSInfoKey;
extern const QString KVXSupportsGlobalPermissionsDisableFSInfoKey;
extern const QString KVXSystemImageFSInfoKey;
extern const QString KVXTotalSizeFSInfoKey;
extern const QString KVXVolumeNameFSInfoKey;
extern const QString KVXVolumeUUIDFSInfoKey;
extern const QString KVXWholeDiskFSInfoKey;
extern const QString KVXWritableFSInfoKey;
extern const QString KVXWritableMediaFSInfoKey;
extern const QString KVXWritableVolumeFSInfoKey;
extern const QString KVXWholeDisksDiskUtilListPlistKey;
extern const QString KVXDiskUtilFSInfoBinPath;
extern const QString KVXFSInfoDidUpdateNotification;

enum KVXFSInfoUpdateStage : int32_t {
    KVXFSInfoUpdateStageIdle = -1,
    KVXFSInfoUpdateStageListingDisks = 0,
    KVXFSInfoUpdateStageQueryingDisks = 1,
    KVXFSInfoUpdateStageQueryingVolumes = 2,
    KVXFSInfoUpdateStageRestart = 3,
};

class KVXFSInfo {
  public:
    // The process-wide instance, made on first use and kept for the life of
    // the process.
    static KVXFSInfo* sharedInfo();

    // init: empty lists, automatic updating off, idle; observes every task
    // termination of the process. Starts no update.
    KVXFSInfo();
    ~KVXFSInfo();
    KVXFSInfo(const KVXFSInfo&) = delete;
    KVXFSInfo& operator=(const KVXFSInfo&) = delete;

    // Whether volume mount and unmount notifications start an update.
    void setAutomaticallyUpdatesCache(bool flag);
    // Starts an update or, while one runs, asks for a fresh one after it.
    void updateCache();
    void volumeDidMountNotification(const app::Notification& notification);
    void volumeDidUnmountNotification(const app::Notification& notification);

    // Where KVXFSInfoDidUpdateNotification is posted: the default center.
    app::NotificationCenter& notificationCenter() const;
    void postInfoDidUpdateNotification();

    // Cached queries: they never start an update and never wait.
    QVariantList allDisksInfo() const;
    QVariantList allVolumesInfo() const;
    QVariantList allDisksInfoWithPredicateInfo(const QVariantMap& predicateInfo) const;
    QVariantList allVolumesInfoWithPredicateInfo(const QVariantMap& predicateInfo) const;
    QVariantList filteredInfo(const QVariantList& info, const QVariantMap& predicateInfo) const;
    // A key the description lacks rejects nothing; a different value rejects.
    bool acceptInfo(const QVariantMap& info, const QVariantMap& predicateInfo) const;
    std::optional<QVariantMap> infoForVolumeWithMountPoint(const QString& mountPoint) const;
    std::optional<QVariantMap> infoForVolumeWithDeviceNode(const QString& deviceNode) const;
    std::optional<QVariantMap> infoForDiskWithDeviceNode(const QString& deviceNode) const;

    // Live queries of the mount table.
    QStringList allVolumeMountPoints() const;
    // "/", "/Volumes" and everything beneath it.
    QStringList allVolumeMountPointsFromStatfs() const;
    QStringList allVolumeMountPointsFromNSWorkspace() const;
    QStringList allVolumeDeviceNodes() const;
    QString deviceNodeForMountPoint(const QString& mountPoint) const;

    // The update machinery, for the class's own use.
    void queryAllDiskDeviceNodes();
    void queryInfoStringWithDeviceNode(const QString& deviceNode);
    void taskDidTerminate(const app::Notification& notification);
    QVariantMap infoByParsingInfoString(const QString& string) const;

    // The fields.
    QVariantList allDisksCachedInfo() const { return allDisksCachedInfo_; }
    void setAllDisksCachedInfo(const QVariantList& info) { allDisksCachedInfo_ = info; }
    QVariantList allVolumesCachedInfo() const { return allVolumesCachedInfo_; }
    void setAllVolumesCachedInfo(const QVariantList& info) { allVolumesCachedInfo_ = info; }
    QVariantList allDisksCachedInfo_working() const { return allDisksCachedInfo_working_; }
    void setAllDisksCachedInfo_working(const QVariantList& info) {
        allDisksCachedInfo_working_ = info;
    }
    QVariantList allVolumesCachedInfo_working() const { return allVolumesCachedInfo_working_; }
    void setAllVolumesCachedInfo_working(const QVariantList& info) {
        allVolumesCachedInfo_working_ = info;
    }
    std::shared_ptr<app::Pipe> taskStandardOutputPipe() const { return taskStandardOutputPipe_; }
    void setTaskStandardOutputPipe(std::shared_ptr<app::Pipe> pipe) {
        taskStandardOutputPipe_ = std::move(pipe);
    }
    QStringList currentUpdateStageDeviceNodesRemaining() const {
        return currentUpdateStageDeviceNodesRemaining_;
    }
    void setCurrentUpdateStageDeviceNodesRemaining(const QStringList& nodes) {
        currentUpdateStageDeviceNodesRemaining_ = nodes;
    }
    std::shared_ptr<app::Task> currentAsyncTask() const { return currentAsyncTask_; }
    void setCurrentAsyncTask(std::shared_ptr<app::Task> task) {
        currentAsyncTask_ = std::move(task);
    }
    int32_t currentUpdateStage() const { return currentUpdateStage_; }
    void setCurrentUpdateStage(int32_t stage) { currentUpdateStage_ = stage; }

  private:
    void launchDiskUtility(const QStringList& arguments);
    void queryNextOrFinishStage();

    QVariantList allDisksCachedInfo_;
    QVariantList allVolumesCachedInfo_;
    QVariantList allDisksCachedInfo_working_;
    QVariantList allVolumesCachedInfo_working_;
    std::shared_ptr<app::Pipe> taskStandardOutputPipe_;
    QStringList currentUpdateStageDeviceNodesRemaining_;
    std::shared_ptr<app::Task> currentAsyncTask_;
    bool automaticallyUpdatesCache_ = false;
    int32_t currentUpdateStage_ = KVXFSInfoUpdateStageIdle;
    // Ends the deferred calls made for children that could not be started
    // when the instance goes away.
    QObject lifetime_;
};
