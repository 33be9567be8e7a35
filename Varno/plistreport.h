#pragma once
// The --plist output: every run with every item of its stream, as one
// property list for scripts.
//
//   Operations  array, one dictionary per run:
//     Identifier, Title, Items (Kind "Text" with Text, "Progress" with
//     Position and Total, "Record" with Record, "TruncatedRecord" with Text,
//     "LostRecord" with Problem and Text, the start of a record that could
//     not be read or was too large), Records (the parsed documents),
//     Truncated, Seconds, ExitStatus, Signal or StartError, Succeeded,
//     LostRecords (why records are missing) when any, and BytesRemoved when
//     the run reported it
//   BytesRemoved  total of the runs that reported it, held at the largest
//                 integer rather than wrapping
//   Succeeded     every run ended with status 0 and lost no record

#include <QList>
#include <QVariantMap>

#include "runoutcome.h"

namespace varno {

QVariantMap plistReport(const QList<RunOutcome>& outcomes);
// The report as an XML property list.
QByteArray plistReportDocument(const QList<RunOutcome>& outcomes);

}  // namespace varno
