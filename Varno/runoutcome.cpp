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

QString exitStatusMeaning(const QString& identifier, int status, const QString& output) {
    if (status == 0) return QStringLiteral("success");
    qsizetype end = output.size();
    while (end > 0 && output.at(end - 1).isSpace()) --end;
    const QByteArray line = output.left(end).section(u'\n', -1).toUtf8();
    std::string_view meaning =
        contract::framingMeaning(status, std::string_view(line.constData(), line.size()));
    if (meaning.empty()) {
        const Operation* op = OperationCatalog::find(identifier);
        if (op) meaning = contract::operationStatusMeaning(*op->contract, status);
    }
    if (meaning.empty()) return QStringLiteral("operation status %1").arg(status);
    return QString::fromUtf8(meaning.data(), static_cast<qsizetype>(meaning.size()));
}

namespace {

QString outputText(const RunOutcome& outcome) {
    QString text;
    for (const QVariant& item : outcome.items) {
        const QVariantMap map = item.toMap();
        if (map.value(QStringLiteral("Kind")).toString() == u"Text")
            text += map.value(QStringLiteral("Text")).toString();
    }
    return text;
}

}  // namespace

QString endingText(const RunOutcome& outcome) {
    if (!outcome.startError.isEmpty())
        return QStringLiteral("could not be started: %1").arg(outcome.startError);
    if (outcome.signal != 0)
        return QStringLiteral("ended by signal %1 (%2)")
            .arg(outcome.signal)
            .arg(QString::fromLocal8Bit(strsignal(outcome.signal)));
    return QStringLiteral("exit status %1 (%2)")
        .arg(outcome.exitStatus)
        .arg(exitStatusMeaning(outcome.identifier, outcome.exitStatus, outputText(outcome)));
}

namespace {

QString counted(qsizetype n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

qsizetype listSize(const QVariantMap& map, std::string_view key) {
    return map.value(contractText(key)).toList().size();
}

void preferenceFiles(const QVariantMap& map, const contract::PreferenceFilesRecord& keys,
                     QStringList& parts) {
    const qsizetype moved = listSize(map, keys.moved);
    const qsizetype failed = listSize(map, keys.failed);
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
        if (tag == contractText(contract::kDisableRecord.tag)) {
            preferenceFiles(map, contract::kDisableRecord, parts);
        } else if (tag == contractText(contract::kRestoreRecord.tag)) {
            preferenceFiles(map, contract::kRestoreRecord, parts);
        } else if (tag == contractText(contract::id::kQueryProcesses)) {
            parts << counted(listSize(map, contract::kProcessesKey), "process listed",
                             "processes listed");
        } else if (tag == contractText(contract::id::kQuerySpotlightInfo)) {
            parts << counted(listSize(map, contract::kSpotlightVolumesKey), "volume reported",
                             "volumes reported");
        }
    }
    if (outcome.truncated) parts << QStringLiteral("the output ended inside a result record");
    parts << outcome.lostRecords;
    return parts;
}

}  // namespace varno
