#include "plistreport.h"

#include "app/plistbridge.h"
#include "operationcatalog.h"
#include "plist/plist.h"

namespace varno {

QVariantMap plistReport(const QList<RunOutcome>& outcomes) {
    QVariantList runs;
    qint64 total = 0;
    bool succeeded = true;
    for (const RunOutcome& o : outcomes) {
        QVariantMap run{
            {QStringLiteral("Identifier"), o.identifier},
            {QStringLiteral("Title"), OperationCatalog::titleFor(o.identifier)},
            {QStringLiteral("Items"), o.items},
            {QStringLiteral("Records"), QVariantList(o.records.begin(), o.records.end())},
            {QStringLiteral("Truncated"), o.truncated},
            {QStringLiteral("Seconds"), o.seconds}};
        if (!o.startError.isEmpty())
            run.insert(QStringLiteral("StartError"), o.startError);
        else if (o.signal)
            run.insert(QStringLiteral("Signal"), o.signal);
        else
            run.insert(QStringLiteral("ExitStatus"), o.exitStatus);
        if (o.reportsBytesRemoved()) {
            run.insert(QStringLiteral("BytesRemoved"), o.bytesRemoved());
            total = addSizes(total, o.bytesRemoved());
        }
        run.insert(QStringLiteral("Succeeded"), o.succeeded());
        if (!o.lostRecords.isEmpty()) run.insert(QStringLiteral("LostRecords"), o.lostRecords);
        succeeded = succeeded && o.succeeded();
        runs << run;
    }
    return {{QStringLiteral("Operations"), runs},
            {QStringLiteral("BytesRemoved"), total},
            {QStringLiteral("Succeeded"), succeeded}};
}

QByteArray plistReportDocument(const QList<RunOutcome>& outcomes) {
    // Every value of the report has a property-list form.
    auto value = app::plistFromVariant(plistReport(outcomes));
    if (!value) return {};
    const std::string xml = plist::writeXML(*value);
    return QByteArray(xml.data(), static_cast<qsizetype>(xml.size()));
}

}  // namespace varno
