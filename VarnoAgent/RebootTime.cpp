#include "RebootTime.h"

#include <QRegularExpression>
#include <QStringList>
#include <array>

namespace {

constexpr std::array<const char*, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};

// A 29 February waits at most eight years for the next leap year (2096 to 2104).
constexpr int kYearsBack = 8;

// The columns of a record of `last`: the name (a user, or the kind of a
// restart or shutdown record) comes first, the time of a restart record
// stands at 40, and what ended a session follows the login time.
constexpr qsizetype kNameWidth = 8;
constexpr qsizetype kRebootTimeStart = 40;
constexpr qsizetype kRebootTimeLength = 12;
constexpr qsizetype kSessionEndStart = kRebootTimeStart + kRebootTimeLength;

QString nameColumn(const QString& line) {
    return line.left(kNameWidth).trimmed();
}

int monthNumber(const QString& name) {
    const QString lower = name.toLower();
    for (size_t i = 0; i < kMonths.size(); ++i)
        if (lower == QLatin1String(kMonths[i])) return static_cast<int>(i) + 1;
    return 0;
}

qsizetype firstRebootLine(const QStringList& lines) {
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (isRestartRecord(lines[i])) return i;
    return -1;
}

}  // namespace

bool isRestartRecord(const QString& line) {
    return nameColumn(line) == QStringLiteral("reboot");
}

std::optional<QDateTime> dateFromRebootTime(const QString& text, const QDateTime& now,
                                            const QTimeZone& zone) {
    static const QRegularExpression form(
        QStringLiteral("^ *([A-Za-z]{3}) +([0-9]{1,2}) +([0-9]{1,2}):([0-9]{2}) *$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) return std::nullopt;
    const int month = monthNumber(match.captured(1));
    const int day = match.captured(2).toInt();
    const QTime time(match.captured(3).toInt(), match.captured(4).toInt());
    if (month == 0 || !time.isValid() || !zone.isValid() || !now.isValid()) return std::nullopt;
    const int year = now.toTimeZone(zone).date().year();
    for (int y = year; y >= year - kYearsBack; --y) {
        const QDate date(y, month, day);
        // 29 February in a common year, or a day no month has.
        if (!date.isValid()) continue;
        const QDateTime candidate(date, time, zone);
        // Qt moves a time the clocks skip; no record is stamped with one.
        if (!candidate.isValid() || candidate.time() != time) return std::nullopt;
        if (candidate <= now) return candidate;
    }
    return std::nullopt;
}

std::optional<QDateTime> sessionStartFromLastOutput(const QString& output, const QDateTime& now,
                                                    const QTimeZone& zone) {
    const QStringList lines = output.split('\n');
    const qsizetype reboot = firstRebootLine(lines);
    if (reboot < 0) return std::nullopt;
    // A record cut short holds no whole time; the start is then unknown.
    const QString& line = lines[reboot];
    if (line.size() < kRebootTimeStart + kRebootTimeLength) return std::nullopt;
    return dateFromRebootTime(line.mid(kRebootTimeStart, kRebootTimeLength), now, zone);
}

RecordBeforeRestart recordBeforeNewestRestart(const QString& output) {
    const QStringList lines = output.split('\n');
    const qsizetype reboot = firstRebootLine(lines);
    // A blank line or the note on where the records begin says nothing about
    // how the machine went down.
    const QString before = reboot >= 0 && reboot + 1 < lines.size() ? lines[reboot + 1] : QString();
    if (before.trimmed().isEmpty() || before.startsWith(QStringLiteral("wtmp begins")))
        return RecordBeforeRestart::None;
    // The kind of a record is its name; a session tells how it ended after
    // its login time. Host names and other fields may hold any word.
    const QString name = nameColumn(before);
    const QString end = before.mid(kSessionEndStart).trimmed();
    if (name == QStringLiteral("crash") || end.startsWith(QStringLiteral("- crash")))
        return RecordBeforeRestart::Crash;
    if (name == QStringLiteral("shutdown") || end.startsWith(QStringLiteral("- shutdown")))
        return RecordBeforeRestart::Shutdown;
    // A session that ended without a shutdown record after it.
    return RecordBeforeRestart::Unended;
}
