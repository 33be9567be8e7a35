#include "RebootTime.h"

#include <QRegularExpression>
#include <array>

namespace {

constexpr std::array<const char*, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};

// A 29 February waits at most eight years for the next leap year (2096 to 2104).
constexpr int kYearsBack = 8;

int monthNumber(const QString& name) {
    const QString lower = name.toLower();
    for (size_t i = 0; i < kMonths.size(); ++i)
        if (lower == QLatin1String(kMonths[i])) return static_cast<int>(i) + 1;
    return 0;
}

}  // namespace

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
