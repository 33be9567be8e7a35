// The records "last" prints, read by the agent at the start of a session,
// with a fixed now in UTC and, when the zone database has it, in a zone with
// daylight saving. A session start found is never later than now nor more
// than nine years before it, and shows in the zone the month, day, hour and
// minute written in characters 40 to 51 of the first restart record.
#include <QDateTime>
#include <QStringList>
#include <QTimeZone>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "RebootTime.h"

namespace {

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "last output: %s\n", what);
    std::abort();
}

struct Written {
    int month = 0, day = 0, hour = -1, minute = -1;
};

// "Dec  7 09:12" taken apart by words, as a person would read it.
Written writtenTime(const QString& field) {
    static const std::array<QString, 12> months = {"jan", "feb", "mar", "apr", "may", "jun",
                                                   "jul", "aug", "sep", "oct", "nov", "dec"};
    const QStringList words = field.split(' ', Qt::SkipEmptyParts);
    Written w;
    if (words.size() != 3) return w;
    for (size_t i = 0; i < months.size(); ++i)
        if (words[0].compare(months[i], Qt::CaseInsensitive) == 0) w.month = int(i) + 1;
    w.day = words[1].toInt();
    const QStringList clock = words[2].split(':');
    if (clock.size() != 2) return w;
    w.hour = clock[0].toInt();
    w.minute = clock[1].toInt();
    return w;
}

void checkStart(const QString& text, const QDateTime& now, const QTimeZone& zone) {
    const std::optional<QDateTime> start = sessionStartFromLastOutput(text, now, zone);
    if (!start) return;
    check(start->isValid(), "an invalid start");
    check(*start <= now, "a start later than now");
    check(*start >= now.addYears(-9), "a start more than nine years back");
    const QStringList lines = text.split('\n');
    qsizetype reboot = 0;
    while (reboot < lines.size() && !isRestartRecord(lines[reboot])) ++reboot;
    check(reboot < lines.size(), "a start without a restart record");
    const Written w = writtenTime(lines[reboot].mid(40, 12));
    const QDateTime local = start->toTimeZone(zone);
    check(local.date().month() == w.month && local.date().day() == w.day,
          "a start on another day than written");
    check(local.time().hour() == w.hour && local.time().minute() == w.minute &&
              local.time().second() == 0,
          "a start at another time than written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    static const QDateTime now(QDate(2026, 1, 15), QTime(12, 0), QTimeZone::utc());
    static const QTimeZone newYork("America/New_York");
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
    checkStart(text, now, QTimeZone::utc());
    if (newYork.isValid()) checkStart(text, now, newYork);
    if (recordBeforeNewestRestart(text) != RecordBeforeRestart::None)
        check(text.contains(QStringLiteral("reboot")), "a record before a restart never made");
    return 0;
}
