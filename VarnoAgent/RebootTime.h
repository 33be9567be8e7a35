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

// The start of the current session in the output of `last` (newest record
// first): the time in characters 40 to 51 of the first line that holds
// "reboot". nullopt when no line does, the line is too short to hold a whole
// time, or the time cannot be read.
std::optional<QDateTime> sessionStartFromLastOutput(
    const QString& output, const QDateTime& now,
    const QTimeZone& zone = QTimeZone::systemTimeZone());

// The record just after the newest restart in that output, which tells how
// the machine went down before it.
enum class RecordBeforeRestart {
    None,      // no restart, nothing after it, a blank line or where the records begin
    Crash,     // a session that ended in a crash
    Shutdown,  // a shutdown
    Unended,   // anything else: the machine went down without shutting down
};
RecordBeforeRestart recordBeforeNewestRestart(const QString& output);
