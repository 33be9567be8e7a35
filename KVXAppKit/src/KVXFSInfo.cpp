#include "KVXAppKit/KVXFSInfo.h"

#include <QTimer>
#include <cerrno>
#include <string>

#include "KVXDiskUtilText.h"
#include "app/log.h"
#include "app/mounttable.h"
#include "app/plistbridge.h"
#include "app/workspace.h"
#include "plist/plist.h"

const QString KVXBootableFSInfoKey = QStringLiteral("Bootable");
const QString KVXBusProtocolFSInfoKey = QStringLiteral("BusProtocol");
const QString KVXCanBeMadeBootableFSInfoKey = QStringLiteral("CanBeMadeBootable");
const QString KVXCanBeMadeBootableRequiresDestroyFSInfoKey =
    QStringLiteral("CanBeMadeBootableRequiresDestroy");
const QString KVXContentFSInfoKey = QStringLiteral("Content");
const QString KVXDeviceIdentifierFSInfoKey = QStringLiteral("DeviceIdentifier");
const QString KVXDeviceNodeFSInfoKey = QStringLiteral("DeviceNode");
const QString KVXDeviceTreePathFSInfoKey = QStringLiteral("DeviceTreePath");
const QString KVXEjectableFSInfoKey = QStringLiteral("Ejectable");
const QString KVXFilesystemNameFSInfoKey = QStringLiteral("FilesystemName");
const QString KVXFilesystemTypeFSInfoKey = QStringLiteral("FilesystemType");
const QString KVXFilesystemUserVisibleNameFSInfoKey = QStringLiteral("FilesystemUserVisibleName");
const QString KVXFreeSpaceFSInfoKey = QStringLiteral("FreeSpace");
const QString KVXGlobalPermissionsEnabledFSInfoKey = QStringLiteral("GlobalPermissionsEnabled");
const QString KVXIOKitSizeFSInfoKey = QStringLiteral("IOKitSize");
const QString KVXInternalFSInfoKey = QStringLiteral("Internal");
const QString KVXJournalOffsetFSInfoKey = QStringLiteral("JournalOffset");
const QString KVXJournalSizeFSInfoKey = QStringLiteral("JournalSize");
const QString KVXLowLevelFormatSupportedFSInfoKey = QStringLiteral("LowLevelFormatSupported");
const QString KVXMediaNameFSInfoKey = QStringLiteral("MediaName");
const QString KVXMediaTypeFSInfoKey = QStringLiteral("MediaType");
const QString KVXMountPointFSInfoKey = QStringLiteral("MountPoint");
const QString KVXOS9DriversInstalledFSInfoKey = QStringLiteral("OS9DriversInstalled");
const QString KVXOwnersFSInfoKey = QStringLiteral("Owners");
const QString KVXParentWholeDiskFSInfoKey = QStringLiteral("ParentWholeDisk");
const QString KVXRAIDMasterFSInfoKey = QStringLiteral("RAIDMaster");
const QString KVXRAIDSliceFSInfoKey = QStringLiteral("RAIDSlice");
const QString KVXSMARTStatusFSInfoKey = QStringLiteral("SMARTStatus");
const QString KVXSupportsGlobalPermissionsDisableFSInfoKey =
    QStringLiteral("SupportsGlobalPermissionsDisable");
const QString KVXSystemImageFSInfoKey = QStringLiteral("SystemImage");
const QString KVXTotalSizeFSInfoKey = QStringLiteral("TotalSize");
const QString KVXVolumeNameFSInfoKey = QStringLiteral("VolumeName");
const QString KVXVolumeUUIDFSInfoKey = QStringLiteral("VolumeUUID");
const QString KVXWholeDiskFSInfoKey = QStringLiteral("WholeDisk");
const QString KVXWritableFSInfoKey = QStringLiteral("Writable");
const QString KVXWritableMediaFSInfoKey = QStringLiteral("WritableMedia");
const QString KVXWritableVolumeFSInfoKey = QStringLiteral("WritableVolume");
const QString KVXWholeDisksDiskUtilListPlistKey = QStringLiteral("WholeDisks");
const QString KVXDiskUtilFSInfoBinPath = QStringLiteral("/usr/sbin/diskutil");
const QString KVXFSInfoDidUpdateNotification = QStringLiteral("KVXFSInfoDidUpdateNotification");

namespace {

void log(const QString& message) {
    app::NSLog(QStringLiteral("[KVXFSInfo] ") + message);
}

std::optional<QVariantMap> firstWithValue(const QVariantList& list, const QString& key,
                                          const QString& value) {
    for (const QVariant& item : list) {
        const QVariantMap info = item.toMap();
        const QVariant found = info.value(key);
        if (found.typeId() == QMetaType::QString && found.toString() == value) return info;
    }
    return std::nullopt;
}

}  // namespace

KVXFSInfo* KVXFSInfo::sharedInfo() {
    static KVXFSInfo* shared = new KVXFSInfo();
    return shared;
}

KVXFSInfo::KVXFSInfo() {
    setAutomaticallyUpdatesCache(false);
    app::NotificationCenter::defaultCenter().addObserver(
        this, app::kTaskDidTerminateNotification, nullptr,
        [this](const app::Notification& n) { taskDidTerminate(n); });
}

KVXFSInfo::~KVXFSInfo() {
    app::NotificationCenter::defaultCenter().removeObserver(this);
    app::workspaceNotificationCenter().removeObserver(this);
}

void KVXFSInfo::setAutomaticallyUpdatesCache(bool flag) {
    automaticallyUpdatesCache_ = flag;
    app::NotificationCenter& workspace = app::workspaceNotificationCenter();
    workspace.removeObserver(this, app::kWorkspaceDidMountNotification);
    workspace.removeObserver(this, app::kWorkspaceDidUnmountNotification);
    if (!flag) return;
    workspace.addObserver(this, app::kWorkspaceDidMountNotification, nullptr,
                          [this](const app::Notification& n) { volumeDidMountNotification(n); });
    workspace.addObserver(this, app::kWorkspaceDidUnmountNotification, nullptr,
                          [this](const app::Notification& n) { volumeDidUnmountNotification(n); });
}

void KVXFSInfo::updateCache() {
    if (currentUpdateStage_ != KVXFSInfoUpdateStageIdle) {
        log(QStringLiteral("updateCache: restart."));
        currentUpdateStage_ = KVXFSInfoUpdateStageRestart;
        return;
    }
    log(QStringLiteral("updateCache"));
    allDisksCachedInfo_working_.clear();
    allVolumesCachedInfo_working_.clear();
    currentUpdateStage_ = KVXFSInfoUpdateStageListingDisks;
    queryAllDiskDeviceNodes();
}

void KVXFSInfo::volumeDidMountNotification(const app::Notification&) {
    updateCache();
}

void KVXFSInfo::volumeDidUnmountNotification(const app::Notification&) {
    updateCache();
}

app::NotificationCenter& KVXFSInfo::notificationCenter() const {
    return app::NotificationCenter::defaultCenter();
}

void KVXFSInfo::postInfoDidUpdateNotification() {
    log(QStringLiteral("postInfoDidUpdateNotification"));
    notificationCenter().postNotificationName(KVXFSInfoDidUpdateNotification);
}

QVariantList KVXFSInfo::allDisksInfo() const {
    return allDisksCachedInfo_;
}

QVariantList KVXFSInfo::allVolumesInfo() const {
    return allVolumesCachedInfo_;
}

QVariantList KVXFSInfo::allDisksInfoWithPredicateInfo(const QVariantMap& predicateInfo) const {
    return filteredInfo(allDisksInfo(), predicateInfo);
}

QVariantList KVXFSInfo::allVolumesInfoWithPredicateInfo(const QVariantMap& predicateInfo) const {
    return filteredInfo(allVolumesInfo(), predicateInfo);
}

QVariantList KVXFSInfo::filteredInfo(const QVariantList& info,
                                     const QVariantMap& predicateInfo) const {
    QVariantList accepted;
    for (const QVariant& item : info)
        if (acceptInfo(item.toMap(), predicateInfo)) accepted << item;
    return accepted;
}

namespace {

// Object equality of property-list values: a string never equals a number or
// a boolean, however alike they print (QVariant would convert one side).
bool isEqual(const QVariant& a, const QVariant& b) {
    const std::optional<plist::Value> left = app::plistFromVariant(a);
    const std::optional<plist::Value> right = app::plistFromVariant(b);
    if (left && right) return *left == *right;
    return a == b;
}

}  // namespace

bool KVXFSInfo::acceptInfo(const QVariantMap& info, const QVariantMap& predicateInfo) const {
    for (auto it = predicateInfo.constBegin(); it != predicateInfo.constEnd(); ++it) {
        const auto found = info.constFind(it.key());
        if (found != info.constEnd() && !isEqual(found.value(), it.value())) return false;
    }
    return true;
}

std::optional<QVariantMap> KVXFSInfo::infoForVolumeWithMountPoint(const QString& mountPoint) const {
    return firstWithValue(allVolumesInfo(), KVXMountPointFSInfoKey, mountPoint);
}

std::optional<QVariantMap> KVXFSInfo::infoForVolumeWithDeviceNode(const QString& deviceNode) const {
    return firstWithValue(allVolumesInfo(), KVXDeviceNodeFSInfoKey, deviceNode);
}

std::optional<QVariantMap> KVXFSInfo::infoForDiskWithDeviceNode(const QString& deviceNode) const {
    return firstWithValue(allDisksInfo(), KVXDeviceNodeFSInfoKey, deviceNode);
}

QStringList KVXFSInfo::allVolumeMountPoints() const {
    return allVolumeMountPointsFromStatfs();
}

namespace {

QStringList volumeMountPoints(const QStringList& mountPoints) {
    QStringList kept;
    for (const QString& path : mountPoints) {
        if (path == QStringLiteral("/") ||
            (path.startsWith('/') && path.section('/', 1, 1) == QStringLiteral("Volumes")))
            kept << path;
    }
    return kept;
}

}  // namespace

QStringList KVXFSInfo::allVolumeMountPointsFromStatfs() const {
    QStringList all;
    for (const app::MountInfo& m : app::getmntinfo()) all << m.mountOnName;
    return volumeMountPoints(all);
}

QStringList KVXFSInfo::allVolumeMountPointsFromNSWorkspace() const {
    return volumeMountPoints(app::mountedLocalVolumePaths());
}

QStringList KVXFSInfo::allVolumeDeviceNodes() const {
    QStringList nodes;
    for (const QString& mountPoint : allVolumeMountPoints()) {
        const QString node = deviceNodeForMountPoint(mountPoint);
        if (!node.isNull()) nodes << node;
    }
    return nodes;
}

QString KVXFSInfo::deviceNodeForMountPoint(const QString& mountPoint) const {
    if (mountPoint.isNull()) return {};
    int error = 0;
    const std::optional<app::MountInfo> mount = app::statfs(mountPoint, &error);
    if (!mount) {
        app::NSLogv(QStringLiteral("[KVXFSInfo] statfs error %d getting device node for mount "
                                   "point %@"),
                    {error, mountPoint});
        return {};
    }
    return mount->mountFromName;
}

void KVXFSInfo::queryAllDiskDeviceNodes() {
    launchDiskUtility({QStringLiteral("list"), QStringLiteral("-plist")});
}

void KVXFSInfo::queryInfoStringWithDeviceNode(const QString& deviceNode) {
    launchDiskUtility({QStringLiteral("info"), QStringLiteral("-plist"), deviceNode});
}

void KVXFSInfo::launchDiskUtility(const QStringList& arguments) {
    auto task = std::make_shared<app::Task>();
    task->setLaunchPath(KVXDiskUtilFSInfoBinPath);
    task->setArguments(arguments);
    auto pipe = std::make_shared<app::Pipe>();
    task->setStandardOutput(pipe);
    taskStandardOutputPipe_ = pipe;
    currentAsyncTask_ = task;
    QString error;
    if (task->launch(&error)) return;
    // No termination will come for a child that never started; without one
    // the update would stay in its stage for ever. It counts as a child that
    // ended with no output, from the event loop like a real one.
    log(error);
    QTimer::singleShot(0, &lifetime_, [this, task] {
        taskDidTerminate(app::Notification{app::kTaskDidTerminateNotification, task.get(), {}});
    });
}

void KVXFSInfo::taskDidTerminate(const app::Notification& notification) {
    if (currentAsyncTask_ == nullptr || notification.object != currentAsyncTask_.get()) return;
    if (currentUpdateStage_ == KVXFSInfoUpdateStageRestart) {
        log(QStringLiteral("Interrupted. Starting new update."));
        currentUpdateStage_ = KVXFSInfoUpdateStageIdle;
        updateCache();
        return;
    }
    if (currentUpdateStage_ < KVXFSInfoUpdateStageListingDisks ||
        currentUpdateStage_ > KVXFSInfoUpdateStageQueryingVolumes)
        return;
    const QString text = QString::fromUtf8(
        taskStandardOutputPipe_ ? taskStandardOutputPipe_->readDataToEndOfFile() : QByteArray());
    const QVariantMap info = infoByParsingInfoString(text);
    switch (currentUpdateStage_) {
        case KVXFSInfoUpdateStageListingDisks: {
            currentUpdateStage_ = KVXFSInfoUpdateStageQueryingDisks;
            currentUpdateStageDeviceNodesRemaining_.clear();
            // Only strings name a device the utility can be asked about.
            for (const QVariant& disk : info.value(KVXWholeDisksDiskUtilListPlistKey).toList())
                if (disk.typeId() == QMetaType::QString)
                    currentUpdateStageDeviceNodesRemaining_ << disk.toString();
            break;
        }
        case KVXFSInfoUpdateStageQueryingDisks:
            if (!info.isEmpty()) allDisksCachedInfo_working_ << info;
            if (!currentUpdateStageDeviceNodesRemaining_.isEmpty())
                currentUpdateStageDeviceNodesRemaining_.removeFirst();
            break;
        default:
            if (!info.isEmpty()) allVolumesCachedInfo_working_ << info;
            if (!currentUpdateStageDeviceNodesRemaining_.isEmpty())
                currentUpdateStageDeviceNodesRemaining_.removeFirst();
            break;
    }
    queryNextOrFinishStage();
}

void KVXFSInfo::queryNextOrFinishStage() {
    if (currentUpdateStage_ == KVXFSInfoUpdateStageQueryingDisks &&
        currentUpdateStageDeviceNodesRemaining_.isEmpty()) {
        currentUpdateStage_ = KVXFSInfoUpdateStageQueryingVolumes;
        currentUpdateStageDeviceNodesRemaining_ = allVolumeDeviceNodes();
    }
    if (currentUpdateStageDeviceNodesRemaining_.isEmpty()) {
        currentUpdateStage_ = KVXFSInfoUpdateStageIdle;
        allDisksCachedInfo_ = allDisksCachedInfo_working_;
        allVolumesCachedInfo_ = allVolumesCachedInfo_working_;
        postInfoDidUpdateNotification();
        return;
    }
    queryInfoStringWithDeviceNode(currentUpdateStageDeviceNodesRemaining_.first());
}

QVariantMap KVXFSInfo::infoByParsingInfoString(const QString& string) const {
    const kvxdiskutil::ParsedText parsed = kvxdiskutil::infoFromText(string);
    if (parsed.error)
        app::NSLogv(QStringLiteral("[KVXFSInfo] infoByParsingInfoString: %@"), {*parsed.error});
    return parsed.info;
}
