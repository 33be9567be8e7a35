#pragma once
// The --plist output: every run with every item of its stream, as one
// property list for scripts.
//
//   Operations  array, one dictionary per run:
//     Identifier, Title, Items (Kind "Text" with Text, "Progress" with
//     Position and Total, "Record" with Record, "TruncatedRecord" with Text),
//     Records (the parsed documents), Truncated, Seconds, and ExitStatus,
//     Signal or StartError, and BytesRemoved when the run reported it
//   BytesRemoved  total of the runs that reported it
//   Succeeded     every run ended with status 0

#include <QList>
#include <QVariantMap>

#include "runoutcome.h"

namespace varno {

QVariantMap plistReport(const QList<RunOutcome>& outcomes);
// The report as an XML property list.
QByteArray plistReportDocument(const QList<RunOutcome>& outcomes);

}  // namespace varno
