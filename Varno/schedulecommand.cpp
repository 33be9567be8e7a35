// The schedule commands: list, add, enable, disable and remove. Every change
// also brings the agent's start at login in line with what is enabled.
#include <QCommandLineParser>
#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>

#include "commandline.h"
#include "commandsupport.h"
#include "queuestore.h"
#include "schedulestore.h"

namespace varno {

namespace {

const char kScheduleUsage[] =
    "usage: Varno schedule list | add NAME QUEUE [--at DATE] [--every INTERVAL] [--disabled] | "
    "enable NAME | disable NAME | remove NAME";

const char kScheduleHelp[] =
    R"(Schedules run a queue at a date and again after each interval. They are
kept in the preferences domain "com.kvxlabs.Varno2" under "Configurations",
where the agent (VarnoAgent) watches them: when one comes due it counts down
30 seconds and then starts Varno, which runs the queue and sets the next date.

  schedule list                      the schedules and their next dates
  schedule add NAME QUEUE [--at DATE] [--every INTERVAL] [--disabled]
                                     run QUEUE from DATE (default: one
                                     interval from now) every INTERVAL
  schedule enable NAME | disable NAME | remove NAME

DATE: "now", "+N" with s, m, h or d ("+90s", "+2h"), or an ISO 8601 date
("2026-12-24T03:00:00Z"; without an offset, local time).
INTERVAL: day, week (the default), 2weeks, month (30 days), 2months (61 days).

While a schedule is enabled the agent starts at login: Varno writes
"~/Library/LaunchAgents/com.kvxlabs.Varno2.agent.plist" and loads it with
"/bin/launchctl load"; on Linux it also writes the desktop's autostart entry
"~/.config/autostart/com.kvxlabs.Varno2.agent.desktop", removed again when
no schedule, hard-restart check or S.M.A.R.T. check is enabled.
)";

struct Interval {
    const char* name;
    int code;
};
constexpr Interval kIntervals[] = {
    {"day", 1}, {"week", 2}, {"2weeks", 3}, {"month", 4}, {"2months", 5}};

QString intervalName(int code) {
    if (code == 0) return QStringLiteral("day");
    for (const Interval& i : kIntervals)
        if (i.code == code) return QLatin1String(i.name);
    return QStringLiteral("never (code %1)").arg(code);
}

std::optional<QDateTime> parseDate(const QString& text, const QDateTime& now) {
    if (text == u"now") return now;
    static const QRegularExpression relative(QStringLiteral("^\\+([0-9]{1,9})([smhd])$"));
    const QRegularExpressionMatch m = relative.match(text);
    if (m.hasMatch()) {
        const qint64 n = m.captured(1).toLongLong();
        const QChar unit = m.captured(2).at(0);
        const qint64 seconds = unit == u's'   ? n
                               : unit == u'm' ? n * 60
                               : unit == u'h' ? n * 3600
                                              : n * 86400;
        return now.addSecs(seconds);
    }
    QString iso = text;
    if (iso.size() > 10 && iso.at(10) == u' ') iso[10] = u'T';
    const QDateTime date = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!date.isValid()) return std::nullopt;
    return date.toUTC();
}

}  // namespace

int CommandLine::scheduleCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption at(QStringLiteral("at"), QString(), QStringLiteral("DATE"));
    const QCommandLineOption every(QStringLiteral("every"), QString(), QStringLiteral("INTERVAL"));
    const QCommandLineOption disabled(QStringLiteral("disabled"));
    parser.addOptions({help, at, every, disabled});
    if (!parser.parse(QStringList{QStringLiteral("Varno")} + args))
        return usageError(kScheduleUsage, parser.errorText());
    if (parser.isSet(help)) {
        print(QString::fromLatin1(kScheduleUsage) + u'\n' + QString::fromLatin1(kScheduleHelp));
        return 0;
    }
    QStringList rest = parser.positionalArguments();
    if (rest.isEmpty())
        return usageError(kScheduleUsage, QStringLiteral("no schedule command given"));
    const QString action = rest.takeFirst();
    if (action != u"add" && (parser.isSet(at) || parser.isSet(every) || parser.isSet(disabled)))
        return usageError(
            kScheduleUsage,
            QStringLiteral("--at, --every and --disabled belong to \"schedule add\""));
    ScheduleStore store;
    StoreError error;
    const QDateTime now = QDateTime::currentDateTimeUtc();

    if (action == u"list") {
        if (!rest.isEmpty())
            return usageError(kScheduleUsage,
                              QStringLiteral("\"schedule list\" takes no arguments"));
        auto schedules = store.schedules(&error);
        if (!schedules) return storeFailure(error);
        if (schedules->isEmpty())
            print(QStringLiteral("No schedules in %1\n").arg(preferencesPath()));
        for (const QVariant& c : *schedules) {
            const std::optional<QDateTime> next = nextExecution(c);
            const bool enabled = isScheduleEnabled(c);
            QString when = next ? QStringLiteral("next ") + scheduleDateText(*next)
                                : QStringLiteral("no next date");
            if (enabled && next && *next <= now) when += QStringLiteral(" (due)");
            print(QStringLiteral("%1  queue \"%2\", every %3, %4, %5\n")
                      .arg(configurationName(c), scheduledQueueName(c),
                           intervalName(intervalCode(c)), when,
                           enabled ? QStringLiteral("enabled") : QStringLiteral("disabled")));
        }
        return 0;
    }

    if (rest.isEmpty()) return usageError(kScheduleUsage, QStringLiteral("no schedule name given"));
    const QString name = rest.takeFirst();
    if (name.isEmpty())
        return usageError(kScheduleUsage, QStringLiteral("a schedule name cannot be empty"));

    if (action == u"add") {
        if (rest.size() != 1)
            return usageError(kScheduleUsage,
                              QStringLiteral("\"schedule add\" takes a name and a queue"));
        const QString queue = rest.first();
        if (queue.isEmpty())
            return usageError(kScheduleUsage, QStringLiteral("a queue name cannot be empty"));
        int code = 2;
        if (parser.isSet(every)) {
            code = -1;
            for (const Interval& i : kIntervals)
                if (parser.value(every) == QLatin1String(i.name)) code = i.code;
            if (code < 0)
                return usageError(
                    kScheduleUsage,
                    QStringLiteral("\"%1\" is no interval (day, week, 2weeks, month, 2months)")
                        .arg(parser.value(every)));
        }
        QDateTime next = now.addSecs(static_cast<qint64>(timeIntervalForScheduleInterval(code)));
        if (parser.isSet(at)) {
            auto date = parseDate(parser.value(at), now);
            if (!date)
                return usageError(kScheduleUsage,
                                  QStringLiteral("\"%1\" is no date").arg(parser.value(at)));
            next = *date;
        }
        // Whole seconds, as the agent's dates compare.
        next = QDateTime::fromSecsSinceEpoch(next.toSecsSinceEpoch(), QTimeZone::utc());
        auto existing = QueueStore().queue(queue, &error);
        if (!existing && error.kind == StoreError::Kind::NoSuchQueue)
            printError(QStringLiteral("warning: there is no queue named \"%1\" yet; add to it "
                                      "with \"Varno queue add %1 OPERATION ...\"")
                           .arg(queue));
        const QVariantMap configuration{
            {QLatin1String(schedulekeys::kConfigurationName), name},
            {QLatin1String(schedulekeys::kQueueName), queue},
            {QLatin1String(schedulekeys::kEnabled), !parser.isSet(disabled)},
            {QLatin1String(schedulekeys::kNextExecution), next},
            {QLatin1String(schedulekeys::kInterval), code}};
        if (!store.add(configuration, &error)) return storeFailure(error);
        print(QStringLiteral("Added schedule \"%1\": queue \"%2\" every %3 from %4%5\n")
                  .arg(name, queue, intervalName(code), scheduleDateText(next),
                       parser.isSet(disabled) ? QStringLiteral(", disabled") : QString()));
        return updateLaunchAgent();
    }

    if (!rest.isEmpty())
        return usageError(kScheduleUsage,
                          QStringLiteral("\"schedule %1\" takes one name").arg(action));
    bool ok = false;
    QString done;
    if (action == u"enable" || action == u"disable") {
        const bool enable = action == u"enable";
        ok = store.setEnabled(name, enable, &error);
        done = QStringLiteral("%1 schedule \"%2\"\n")
                   .arg(enable ? QStringLiteral("Enabled") : QStringLiteral("Disabled"), name);
    } else if (action == u"remove") {
        ok = store.remove(name, &error);
        done = QStringLiteral("Removed schedule \"%1\"\n").arg(name);
    } else {
        return usageError(kScheduleUsage,
                          QStringLiteral("unknown schedule command \"%1\"").arg(action));
    }
    if (!ok) return storeFailure(error);
    print(done);
    return updateLaunchAgent();
}

}  // namespace varno
