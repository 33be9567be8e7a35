#include "schedulestore.h"

#include <cmath>
#include <limits>

namespace varno {

namespace {

bool isNumber(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Double:
            return true;
        default:
            return false;
    }
}

QVariant entry(const QVariant& configuration, const char* key) {
    if (configuration.typeId() != QMetaType::QVariantMap) return {};
    return configuration.toMap().value(QLatin1String(key));
}

QString stringEntry(const QVariant& configuration, const char* key) {
    const QVariant value = entry(configuration, key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

}  // namespace

double timeIntervalForScheduleInterval(int code) {
    constexpr double kDay = 86400;
    switch (code) {
        case 0:
        case 1:
            return kDay;
        case 2:
            return 7 * kDay;
        case 3:
            return 14 * kDay;
        case 4:
            return 30 * kDay;
        case 5:
            return 61 * kDay;
        default:
            return 0;
    }
}

std::optional<QDateTime> advancedExecution(const QDateTime& next, double intervalSeconds,
                                           const QDateTime& now) {
    if (next > now) return next;
    if (!(intervalSeconds > 0)) return std::nullopt;
    const qint64 step = static_cast<qint64>(std::llround(intervalSeconds * 1000.0));
    const qint64 behind = next.msecsTo(now);  // >= 0 here
    // Enough whole steps to pass now; a date exactly on now is still due.
    const qint64 steps = behind / step + 1;
    return next.addMSecs(steps * step);
}

QString scheduleDateText(const QDateTime& date) {
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
}

bool preferenceBoolean(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    if (value.typeId() == QMetaType::Double) return value.toDouble() != 0.0;
    if (isNumber(value)) return value.toULongLong() != 0;
    return false;
}

QString configurationName(const QVariant& configuration) {
    return stringEntry(configuration, schedulekeys::kConfigurationName);
}

QString scheduledQueueName(const QVariant& configuration) {
    return stringEntry(configuration, schedulekeys::kQueueName);
}

bool isScheduleEnabled(const QVariant& configuration) {
    return preferenceBoolean(entry(configuration, schedulekeys::kEnabled));
}

std::optional<QDateTime> nextExecution(const QVariant& configuration) {
    const QVariant date = entry(configuration, schedulekeys::kNextExecution);
    if (date.typeId() != QMetaType::QDateTime || !date.toDateTime().isValid()) return std::nullopt;
    return date.toDateTime();
}

int intervalCode(const QVariant& configuration) {
    const QVariant code = entry(configuration, schedulekeys::kInterval);
    if (!isNumber(code)) return 0;
    const double value = code.toDouble();
    if (!std::isfinite(value) || value < std::numeric_limits<int>::min() ||
        value > std::numeric_limits<int>::max())
        return -1;
    if (code.typeId() == QMetaType::Double) return static_cast<int>(value);
    return static_cast<int>(code.toLongLong());
}

bool anyScheduleEnabled(const QVariantMap& domain) {
    const QVariant configurations = domain.value(QLatin1String(schedulekeys::kConfigurations));
    if (configurations.typeId() != QMetaType::QVariantMap) return false;
    const QVariant schedule = configurations.toMap().value(QLatin1String(schedulekeys::kSchedule));
    if (schedule.typeId() != QMetaType::QVariantList) return false;
    for (const QVariant& c : schedule.toList())
        if (isScheduleEnabled(c)) return true;
    return false;
}

bool startupChecksEnabled(const QVariantMap& domain) {
    const QVariant automatic = domain.value(QLatin1String(schedulekeys::kAutomaticExecution));
    return preferenceBoolean(entry(automatic, schedulekeys::kHardRestartQueueEnabled)) ||
           preferenceBoolean(entry(automatic, schedulekeys::kSMARTStatusMonitorEnabled));
}

ScheduleStore::ScheduleStore(UserDefaultsDomain domain) : domain_(std::move(domain)) {}

std::optional<QVariantMap> ScheduleStore::read(QString* error) const {
    return domain_.read(error);
}

std::optional<QVariantList> ScheduleStore::schedules(QString* error) const {
    QVariantMap all;
    QVariantList schedule;
    if (!loadForChange(&all, &schedule, error)) return std::nullopt;
    return schedule;
}

bool ScheduleStore::loadForChange(QVariantMap* all, QVariantList* schedule, QString* error) const {
    auto domain = domain_.read(error);
    if (!domain) return false;
    *all = *domain;
    const QVariant configurations = all->value(QLatin1String(schedulekeys::kConfigurations));
    if (!configurations.isValid()) {
        schedule->clear();
        return true;
    }
    // Something else under these keys is not ours to replace.
    if (configurations.typeId() != QMetaType::QVariantMap) {
        *error = QStringLiteral("cannot use %1: \"Configurations\" is no dictionary")
                     .arg(domain_.machinePath());
        return false;
    }
    const QVariant stored = configurations.toMap().value(QLatin1String(schedulekeys::kSchedule));
    if (stored.isValid() && stored.typeId() != QMetaType::QVariantList) {
        *error = QStringLiteral("cannot use %1: \"Configurations\" -> \"Schedule\" is no array")
                     .arg(domain_.machinePath());
        return false;
    }
    *schedule = stored.toList();
    return true;
}

bool ScheduleStore::store(QVariantMap all, const QVariantList& schedule, QString* error) const {
    QVariantMap configurations = all.value(QLatin1String(schedulekeys::kConfigurations)).toMap();
    configurations.insert(QLatin1String(schedulekeys::kSchedule), schedule);
    all.insert(QLatin1String(schedulekeys::kConfigurations), configurations);
    return domain_.write(all, error);
}

int ScheduleStore::indexOf(const QVariantList& schedule, const QString& name) {
    for (int i = 0; i < schedule.size(); ++i)
        if (configurationName(schedule[i]) == name) return i;
    return -1;
}

bool ScheduleStore::add(const QVariantMap& configuration, QString* error) {
    QVariantMap all;
    QVariantList schedule;
    if (!loadForChange(&all, &schedule, error)) return false;
    const QString name = configurationName(configuration);
    if (indexOf(schedule, name) >= 0) {
        *error = QStringLiteral("there is a schedule named \"%1\" already").arg(name);
        return false;
    }
    schedule.append(configuration);
    return store(all, schedule, error);
}

bool ScheduleStore::setEnabled(const QString& name, bool enabled, QString* error) {
    QVariantMap all;
    QVariantList schedule;
    if (!loadForChange(&all, &schedule, error)) return false;
    const int i = indexOf(schedule, name);
    if (i < 0 || schedule[i].typeId() != QMetaType::QVariantMap) {
        *error = QStringLiteral("there is no schedule named \"%1\"").arg(name);
        return false;
    }
    QVariantMap configuration = schedule[i].toMap();
    configuration.insert(QLatin1String(schedulekeys::kEnabled), enabled);
    schedule[i] = configuration;
    return store(all, schedule, error);
}

bool ScheduleStore::remove(const QString& name, QString* error) {
    QVariantMap all;
    QVariantList schedule;
    if (!loadForChange(&all, &schedule, error)) return false;
    const int i = indexOf(schedule, name);
    if (i < 0) {
        *error = QStringLiteral("there is no schedule named \"%1\"").arg(name);
        return false;
    }
    schedule.removeAt(i);
    return store(all, schedule, error);
}

std::optional<AdvanceResult> ScheduleStore::advanceAfterRun(const QString& name,
                                                            const QDateTime& now, QString* error) {
    QVariantMap all;
    QVariantList schedule;
    if (!loadForChange(&all, &schedule, error)) return std::nullopt;
    const int i = name.isEmpty() ? -1 : indexOf(schedule, name);
    if (i < 0 || schedule[i].typeId() != QMetaType::QVariantMap) return AdvanceResult::NotFound;
    QVariantMap configuration = schedule[i].toMap();
    const std::optional<QDateTime> next = nextExecution(configuration);
    // Moved on (or postponed) while the queue ran: that date stands.
    if (next && *next > now) return AdvanceResult::AlreadyFuture;
    AdvanceResult result = AdvanceResult::Advanced;
    const std::optional<QDateTime> advanced =
        next ? advancedExecution(*next,
                                 timeIntervalForScheduleInterval(intervalCode(configuration)), now)
             : std::nullopt;
    if (advanced) {
        configuration.insert(QLatin1String(schedulekeys::kNextExecution), *advanced);
    } else {
        // No repetition (or no date to repeat from): left enabled, it would be
        // due again at once and run over and over.
        configuration.insert(QLatin1String(schedulekeys::kEnabled), false);
        result = AdvanceResult::Disabled;
    }
    schedule[i] = configuration;
    if (!store(all, schedule, error)) return std::nullopt;
    return result;
}

bool ScheduleStore::removeAutorestartedReport(QString* error) {
    auto all = domain_.read(error);
    if (!all) return false;
    if (!all->contains(QLatin1String(schedulekeys::kAutorestartedQueueConfig))) return true;
    all->remove(QLatin1String(schedulekeys::kAutorestartedQueueConfig));
    return domain_.write(*all, error);
}

}  // namespace varno
