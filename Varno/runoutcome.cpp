#include "runoutcome.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "operationcatalog.h"

namespace varno {

namespace {

template <typename F>
void forEachSizeRecord(const RunOutcome& outcome, F&& f) {
    for (const QVariant& record : outcome.records) {
        const QVariantMap map = record.toMap();
        if (map.value(QLatin1String(kRecordTagKey)).toString() != outcome.identifier) continue;
        const QVariant size = map.value(QLatin1String(kTotalSizeRemovedKey));
        if (size.isValid()) f(sizeValue(size));
    }
}

}  // namespace

qint64 sizeValue(const QVariant& value) {
    // A property-list integer above the signed range arrives unsigned.
    if (value.typeId() == QMetaType::ULongLong)
        return static_cast<qint64>(
            std::min<quint64>(value.toULongLong(), std::numeric_limits<qint64>::max()));
    return value.toLongLong();
}

qint64 addSizes(qint64 a, qint64 b) {
    qint64 sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

qint64 RunOutcome::bytesRemoved() const {
    qint64 sum = 0;
    forEachSizeRecord(*this, [&](qint64 v) { sum = addSizes(sum, v); });
    return sum;
}

bool RunOutcome::reportsBytesRemoved() const {
    bool any = false;
    forEachSizeRecord(*this, [&](qint64) { any = true; });
    return any;
}

QString humanSize(qint64 bytes) {
    // The magnitude as unsigned: the most negative value has no positive twin.
    const quint64 magnitude = bytes < 0 ? 0 - static_cast<quint64>(bytes) : bytes;
    const QString sign = bytes < 0 ? QStringLiteral("-") : QString();
    if (magnitude < 1024)
        return QStringLiteral("%1%2 %3").arg(sign).arg(magnitude).arg(magnitude == 1 ? "byte"
                                                                                     : "bytes");
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(magnitude) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 5) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1%2 %3")
        .arg(sign)
        .arg(value, 0, 'f', 1)
        .arg(QLatin1String(units[unit]));
}

QString exitStatusMeaning(int status) {
    switch (status) {
        case 0:
            return QStringLiteral("success");
        case 7:
            return QStringLiteral("the executor does not know the operation");
        case 12:
            return QStringLiteral("the executor ran out of memory");
        case 13:
            return QStringLiteral(
                "the executor could not find itself or its privileged copy failed");
        case 14:
            return QStringLiteral("the executor was not started through a privileged launch");
        case 15:
            return QStringLiteral("another run is repairing the executor");
        case 16:
            return QStringLiteral("the executor could not read its own file");
        case 17:
            return QStringLiteral("no authorization reached the executor");
        case 18:
            return QStringLiteral("the executor did not accept the authorization");
        case 20:
            return QStringLiteral("the request's length did not arrive");
        case 21:
            return QStringLiteral("the request did not arrive whole");
        case 22:
            return QStringLiteral(
                "the request is no property list (or the executor ran out of memory)");
        case 255:
            return QStringLiteral("the system tool could not be started");
        // Authorization failures end with the low 8 bits of their status.
        case -60005 & 0xff:
            return QStringLiteral("authorization denied");
        case -60006 & 0xff:
            return QStringLiteral("authorization cancelled");
        case -60007 & 0xff:
            return QStringLiteral("authorization needs interaction");
        default:
            return QStringLiteral("operation status %1").arg(status);
    }
}

QString endingText(const RunOutcome& outcome) {
    if (!outcome.startError.isEmpty())
        return QStringLiteral("could not be started: %1").arg(outcome.startError);
    if (outcome.signal != 0)
        return QStringLiteral("ended by signal %1 (%2)")
            .arg(outcome.signal)
            .arg(QString::fromLocal8Bit(strsignal(outcome.signal)));
    return QStringLiteral("exit status %1 (%2)")
        .arg(outcome.exitStatus)
        .arg(exitStatusMeaning(outcome.exitStatus));
}

namespace {

QString counted(qsizetype n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

qsizetype listSize(const QVariantMap& map, const QString& key) {
    return map.value(key).toList().size();
}

// The two preference-file records differ only in a word of their keys.
void preferenceFiles(const QVariantMap& map, const char* movedKey, const char* failedKey,
                     QStringList& parts) {
    const QString pattern = QStringLiteral("KVXAE%1PreferenceFilesExecutorDidEndInfoKey");
    const qsizetype moved = listSize(map, pattern.arg(QLatin1String(movedKey)));
    const qsizetype failed = listSize(map, pattern.arg(QLatin1String(failedKey)));
    parts << counted(moved, "preference file moved", "preference files moved");
    if (failed > 0)
        parts << counted(failed, "preference file not moved", "preference files not moved");
}

}  // namespace

QStringList describeResults(const RunOutcome& outcome) {
    QStringList parts;
    if (outcome.reportsBytesRemoved())
        parts << QStringLiteral("%1 removed").arg(humanSize(outcome.bytesRemoved()));
    for (const QVariant& record : outcome.records) {
        const QVariantMap map = record.toMap();
        const QString tag = map.value(QLatin1String(kRecordTagKey)).toString();
        if (tag == u"KVXAEResultsDisablePreferenceFilesAuthExecDictionaryOutputKey") {
            preferenceFiles(map, "DisabledFilesDisable", "ErrorFilesDisable", parts);
        } else if (tag == u"KVXAEResultsRestorePreferenceFilesAuthExecDictionaryOutputKey") {
            preferenceFiles(map, "RestoredFilesRestore", "ErrorFilesRestore", parts);
        } else if (tag == u"KVXAEQueryProcessesAuthExec") {
            parts << counted(
                listSize(map, QStringLiteral("KVXAEQueryProcessesAuthExecDictionaryOutputKey")),
                "process listed", "processes listed");
        } else if (tag == u"KVXAEQuerySpotlightInfoAuthExec") {
            parts << counted(
                listSize(map,
                         QStringLiteral("KVXAEVolumesQuerySpotlightAuthExecDictionaryOutputKey")),
                "volume reported", "volumes reported");
        }
    }
    if (outcome.truncated) parts << QStringLiteral("the output ended inside a result record");
    parts << outcome.lostRecords;
    return parts;
}

}  // namespace varno
