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
