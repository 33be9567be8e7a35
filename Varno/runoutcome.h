#pragma once
// What one run of the executor produced: every item of its stream in order,
// its result records, and how it ended.

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

namespace varno {

struct RunOutcome {
    QString identifier;       // the operation requested
    QVariantList items;       // every item, as {"Kind": ..., ...} dictionaries
    QList<QVariant> records;  // result records and other documents, parsed
    bool truncated = false;   // the stream ended inside a record
    QStringList lostRecords;  // why records are missing: unreadable, too large, never written
    QString startError;       // the executor could not be started
    int exitStatus = -1;      // when it exited
    int signal = 0;           // when a signal ended it
    double seconds = 0;

    // Ended with status 0 and no record lost or cut short.
    bool succeeded() const {
        return startError.isEmpty() && signal == 0 && exitStatus == 0 && !truncated &&
               lostRecords.isEmpty();
    }
    // Sum of the removed-size records tagged with the requested operation.
    qint64 bytesRemoved() const;
    bool reportsBytesRemoved() const;
};

// "0 bytes", "512 bytes", "1.5 KB", "12.3 MB", "2.0 GB" (units of 1024);
// any value, negative ones with a "-".
QString humanSize(qint64 bytes);

// A byte count from a record: an unsigned value beyond the signed range
// counts as the largest signed one.
qint64 sizeValue(const QVariant& value);
// a + b, held at the signed range's ends instead of wrapping.
qint64 addSizes(qint64 a, qint64 b);

// What an exit status of the executor means, in a few words: the executor's
// own where it ended the run itself (`output`, all the text the run wrote,
// ends with its message), otherwise what the operation `identifier` means
// by it.
QString exitStatusMeaning(const QString& identifier, int status, const QString& output);

// The end of a run in words: "exit status 0 (success)", "ended by signal 9
// (Killed)", "could not be started: ...".
QString endingText(const RunOutcome& outcome);

// The results of a run in a few words each: bytes removed, preference files
// moved, processes listed, volumes reported, a record cut short or lost.
QStringList describeResults(const RunOutcome& outcome);

}  // namespace varno
