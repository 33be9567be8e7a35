// "Varno status --disks": the disks and volumes as the interface library's
// disk information cache describes them once an update of it is complete.
#include <QCommandLineParser>
#include <QEventLoop>
#include <QTimer>
#include <array>

#include "KVXAppKit/KVXFSInfo.h"
#include "KVXAppKit/KVXNSWorkspaceExtensions.h"
#include "app/log.h"
#include "commandline.h"
#include "signalpipe.h"

namespace varno {

namespace {

const char kDisksUsage[] = "usage: Varno status --disks [--timeout SECONDS]";
constexpr double kDefaultTimeoutSeconds = 30;
constexpr double kLongestTimeoutSeconds = 86400;

using Row = std::array<QString, 4>;  // device, name, mount point, size

// One line per row however the utility named things.
QString text(const QVariant& value) {
    if (value.typeId() != QMetaType::QString || value.toString().isEmpty())
        return QStringLiteral("-");
    QString s = value.toString();
    for (QChar& c : s)
        if (c.category() == QChar::Other_Control) c = u' ';
    return s;
}

QString size(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
        case QMetaType::Double:
            if (value.toDouble() >= 0)
                return KVXNSWorkspaceExtensions::sizeStringForBytes(value.toDouble());
            break;
        default:
            break;
    }
    return QStringLiteral("-");
}

QList<Row> rows(const QVariantList& descriptions, const QString& nameKey) {
    QList<Row> result;
    for (const QVariant& item : descriptions) {
        const QVariantMap info = item.toMap();
        result.append({text(info.value(KVXDeviceIdentifierFSInfoKey)), text(info.value(nameKey)),
                       text(info.value(KVXMountPointFSInfoKey)),
                       size(info.value(KVXTotalSizeFSInfoKey))});
    }
    return result;
}

QString table(const QList<Row>& disks, const QList<Row>& volumes) {
    const Row diskHeader = {QStringLiteral("DEVICE"), QStringLiteral("MEDIA NAME"),
                            QStringLiteral("MOUNT POINT"), QStringLiteral("SIZE")};
    Row volumeHeader = diskHeader;
    volumeHeader[1] = QStringLiteral("VOLUME NAME");
    // The columns line up across both sections.
    std::array<qsizetype, 4> width{};
    for (const QList<Row>& section : {disks, volumes, QList<Row>{diskHeader, volumeHeader}})
        for (const Row& row : section)
            for (size_t i = 0; i < width.size(); ++i) width[i] = std::max(width[i], row[i].size());
    auto line = [&](const Row& row) {
        QString out = QStringLiteral("  ");
        for (size_t i = 0; i + 1 < row.size(); ++i)
            out += row[i].leftJustified(width[i]) + QStringLiteral("  ");
        return out + row.back() + u'\n';
    };
    QString out = QStringLiteral("Disks:\n") + line(diskHeader);
    for (const Row& row : disks) out += line(row);
    if (disks.isEmpty()) out += QStringLiteral("  (none)\n");
    out += QStringLiteral("Volumes:\n") + line(volumeHeader);
    for (const Row& row : volumes) out += line(row);
    if (volumes.isEmpty()) out += QStringLiteral("  (none)\n");
    return out;
}

// Asks the cache for an update and waits until it is complete, the time is
// up or a signal came; whether it completed.
bool awaitUpdate(double seconds, bool showLog) {
    // The cache's own log lines are for debugging the agent's peer.
    const app::LogHandler previousLog =
        showLog ? app::LogHandler() : app::setLogHandler([](const QString&) {});
    KVXFSInfo* info = KVXFSInfo::sharedInfo();
    app::NotificationCenter& center = info->notificationCenter();
    QEventLoop loop;
    bool updated = false;
    center.addObserver(&loop, KVXFSInfoDidUpdateNotification, nullptr,
                       [&](const app::Notification&) {
                           updated = true;
                           loop.quit();
                       });
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(SignalPipe::instance(), &SignalPipe::signalReceived, &loop, &QEventLoop::quit);
    timer.start(std::max(1, qRound(seconds * 1000)));
    info->updateCache();
    if (!updated && !SignalPipe::instance()->received()) loop.exec();
    center.removeObserver(&loop);
    if (!showLog) app::setLogHandler(previousLog);
    return updated;
}

}  // namespace

int CommandLine::disksCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption disks(QStringLiteral("disks"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QString(),
                                     QStringLiteral("SECONDS"));
    parser.addOptions({help, disks, timeout});
    if (!parser.parse(QStringList{QStringLiteral("Varno")} + args))
        return usageError(kDisksUsage, parser.errorText());
    if (parser.isSet(help)) return statusCommand({QStringLiteral("--help")});
    if (!parser.positionalArguments().isEmpty())
        return usageError(kDisksUsage, QStringLiteral("\"status\" takes no arguments"));
    double seconds = kDefaultTimeoutSeconds;
    if (parser.isSet(timeout)) {
        bool ok = false;
        seconds = parser.value(timeout).toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > kLongestTimeoutSeconds)
            return usageError(kDisksUsage, QStringLiteral("the timeout \"%1\" is not a number of "
                                                          "seconds from 0 to 86400")
                                               .arg(parser.value(timeout)));
    }
    return showDisks(seconds);
}

int CommandLine::showDisks(double seconds) {
    const bool updated = awaitUpdate(seconds, agentDebug_);
    KVXFSInfo* info = KVXFSInfo::sharedInfo();
    if (!updated) {
        // A disk utility still running is not left behind.
        info->setCurrentAsyncTask(nullptr);
        if (int signal = SignalPipe::instance()->received()) {
            printError(QStringLiteral("interrupted before the disks were described"));
            return 128 + signal;
        }
        printError(QStringLiteral("the disk utility did not describe the disks within %1 seconds")
                       .arg(seconds));
        return kExitUnavailable;
    }
    print(table(rows(info->allDisksInfo(), KVXMediaNameFSInfoKey),
                rows(info->allVolumesInfo(), KVXVolumeNameFSInfoKey)));
    return 0;
}

}  // namespace varno
