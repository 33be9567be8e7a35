#pragma once
// The time of a restart record of `last`: "Dec  7 09:12" (month, day,
// hour:minute; no year), read in a given zone as the most recent such moment
// that is not later than now.

#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <optional>

// nullopt when the text is not of that form, names no such day, or names a
// time the zone's clocks skip.
std::optional<QDateTime> dateFromRebootTime(const QString& text, const QDateTime& now,
                                            const QTimeZone& zone = QTimeZone::systemTimeZone());

// True for a restart record of `last`: its name column reads "reboot"
// (whatever a host name or another field holds).
bool isRestartRecord(const QString& line);

// The start of the current session in the output of `last` (newest record
// first): the time in characters 40 to 51 of the first restart record.
// nullopt when there is none, the line is too short to hold a whole
// time, or the time cannot be read.
std::optional<QDateTime> sessionStartFromLastOutput(
    const QString& output, const QDateTime& now,
    const QTimeZone& zone = QTimeZone::systemTimeZone());

// The record just after the newest restart in that output, which tells how
// the machine went down before it: by the record's kind (its name column) or
// by how the session it shows ended (after its login time).
enum class RecordBeforeRestart {
    None,      // no restart, nothing after it, a blank line or where the records begin
    Crash,     // a session that ended in a crash
    Shutdown,  // a shutdown
    Unended,   // anything else: the machine went down without shutting down
};
RecordBeforeRestart recordBeforeNewestRestart(const QString& output);
