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

// What "schedule" was asked to do, checked.
struct ScheduleOptions {
    QString action;
    QString name;
    // "schedule add" only:
    QString queue;
    int interval = 2;  // "week"
    QDateTime next;    // in whole seconds
    bool disabled = false;
};

namespace {

// The queue, interval and first date of "schedule add"; an error, or "".
QString readAddArguments(const QStringList& rest, const QCommandLineParser& parser,
                         const QDateTime& now, ScheduleOptions* o) {
    if (rest.size() != 1) return QStringLiteral("\"schedule add\" takes a name and a queue");
    o->queue = rest.first();
    if (o->queue.isEmpty()) return QStringLiteral("a queue name cannot be empty");
    if (parser.isSet(QStringLiteral("every"))) {
        const QString every = parser.value(QStringLiteral("every"));
        o->interval = -1;
        for (const Interval& i : kIntervals)
            if (every == QLatin1String(i.name)) o->interval = i.code;
        if (o->interval < 0)
            return QStringLiteral("\"%1\" is no interval (day, week, 2weeks, month, 2months)")
                .arg(every);
    }
    QDateTime next = now.addSecs(static_cast<qint64>(timeIntervalForScheduleInterval(o->interval)));
    if (parser.isSet(QStringLiteral("at"))) {
        auto date = parseDate(parser.value(QStringLiteral("at")), now);
        if (!date)
            return QStringLiteral("\"%1\" is no date").arg(parser.value(QStringLiteral("at")));
        next = *date;
    }
    // Whole seconds, as the agent's dates compare.
    o->next = QDateTime::fromSecsSinceEpoch(next.toSecsSinceEpoch(), QTimeZone::utc());
    o->disabled = parser.isSet(QStringLiteral("disabled"));
    return {};
}

// The words after "schedule", in the order their errors are told; an error, or "".
QString readScheduleWords(QStringList rest, const QCommandLineParser& parser, const QDateTime& now,
                          ScheduleOptions* o) {
    if (rest.isEmpty()) return QStringLiteral("no schedule command given");
    o->action = rest.takeFirst();
    const bool addOptions = parser.isSet(QStringLiteral("at")) ||
                            parser.isSet(QStringLiteral("every")) ||
                            parser.isSet(QStringLiteral("disabled"));
    if (o->action != u"add" && addOptions)
        return QStringLiteral("--at, --every and --disabled belong to \"schedule add\"");
    const QString error = takeListOrName("schedule", o->action, &rest, &o->name);
    if (!error.isEmpty() || o->action == u"list") return error;
    if (o->action == u"add") return readAddArguments(rest, parser, now, o);
    if (!rest.isEmpty()) return QStringLiteral("\"schedule %1\" takes one name").arg(o->action);
    if (o->action != u"enable" && o->action != u"disable" && o->action != u"remove")
        return QStringLiteral("unknown schedule command \"%1\"").arg(o->action);
    return {};
}

QString scheduleLine(const QVariant& c, const QDateTime& now) {
    const std::optional<QDateTime> next = nextExecution(c);
    const bool enabled = isScheduleEnabled(c);
    QString when =
        next ? QStringLiteral("next ") + scheduleDateText(*next) : QStringLiteral("no next date");
    if (enabled && next && *next <= now) when += QStringLiteral(" (due)");
    return QStringLiteral("%1  queue \"%2\", every %3, %4, %5\n")
        .arg(configurationName(c), scheduledQueueName(c), intervalName(intervalCode(c)), when,
             enabled ? QStringLiteral("enabled") : QStringLiteral("disabled"));
}

}  // namespace

int CommandLine::scheduleCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(
        {QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}),
         QCommandLineOption(QStringLiteral("at"), QString(), QStringLiteral("DATE")),
         QCommandLineOption(QStringLiteral("every"), QString(), QStringLiteral("INTERVAL")),
         QCommandLineOption(QStringLiteral("disabled"))});
    if (!parser.parse(QStringList{QStringLiteral("Varno")} + args))
        return usageError(kScheduleUsage, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        print(QString::fromLatin1(kScheduleUsage) + u'\n' + QString::fromLatin1(kScheduleHelp));
        return 0;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    ScheduleOptions options;
    const QString error = readScheduleWords(parser.positionalArguments(), parser, now, &options);
    if (!error.isEmpty()) return usageError(kScheduleUsage, error);
    if (options.action == u"list") return scheduleList(now);
    if (options.action == u"add") return scheduleAdd(options);
    return scheduleChange(options);
}

int CommandLine::scheduleList(const QDateTime& now) {
    StoreError error;
    auto schedules = ScheduleStore().schedules(&error);
    if (!schedules) return storeFailure(error);
    if (schedules->isEmpty()) print(QStringLiteral("No schedules in %1\n").arg(preferencesPath()));
    for (const QVariant& c : *schedules) print(scheduleLine(c, now));
    return 0;
}

int CommandLine::scheduleAdd(const ScheduleOptions& o) {
    StoreError error;
    if (!QueueStore().queue(o.queue, &error) && error.kind == StoreError::Kind::NoSuchQueue)
        printError(QStringLiteral("warning: there is no queue named \"%1\" yet; add to it "
                                  "with \"Varno queue add %1 OPERATION ...\"")
                       .arg(o.queue));
    const QVariantMap configuration{{QLatin1String(schedulekeys::kConfigurationName), o.name},
                                    {QLatin1String(schedulekeys::kQueueName), o.queue},
                                    {QLatin1String(schedulekeys::kEnabled), !o.disabled},
                                    {QLatin1String(schedulekeys::kNextExecution), o.next},
                                    {QLatin1String(schedulekeys::kInterval), o.interval}};
    if (!ScheduleStore().add(configuration, &error)) return storeFailure(error);
    print(QStringLiteral("Added schedule \"%1\": queue \"%2\" every %3 from %4%5\n")
              .arg(o.name, o.queue, intervalName(o.interval), scheduleDateText(o.next),
                   o.disabled ? QStringLiteral(", disabled") : QString()));
    return updateLaunchAgent();
}

int CommandLine::scheduleChange(const ScheduleOptions& o) {
    StoreError error;
    ScheduleStore store;
    if (o.action == u"remove") {
        if (!store.remove(o.name, &error)) return storeFailure(error);
        print(QStringLiteral("Removed schedule \"%1\"\n").arg(o.name));
    } else {
        const bool enable = o.action == u"enable";
        if (!store.setEnabled(o.name, enable, &error)) return storeFailure(error);
        print(QStringLiteral("%1 schedule \"%2\"\n")
                  .arg(enable ? QStringLiteral("Enabled") : QStringLiteral("Disabled"), o.name));
    }
    return updateLaunchAgent();
}

}  // namespace varno
