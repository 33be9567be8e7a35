#include "schedulestore.h"

#include <cmath>

namespace varno {

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
    return schedule::booleanValue(value);
}

QString configurationName(const QVariant& configuration) {
    return schedule::configurationName(configuration).toString();
}

QString scheduledQueueName(const QVariant& configuration) {
    return schedule::queueName(configuration).toString();
}

bool isScheduleEnabled(const QVariant& configuration) {
    return schedule::isEnabled(configuration);
}

std::optional<QDateTime> nextExecution(const QVariant& configuration) {
    return schedule::nextExecution(configuration);
}

int intervalCode(const QVariant& configuration) {
    return schedule::intervalCode(configuration);
}

namespace {

StoreError noSuchSchedule(const QString& name) {
    return {StoreError::Kind::NoSuchSchedule,
            QStringLiteral("there is no schedule named \"%1\"").arg(name)};
}

}  // namespace

std::optional<QVariantMap> ScheduleStore::read(StoreError* error) const {
    return readPreferences(error);
}

std::optional<QVariantList> ScheduleStore::schedules(StoreError* error) const {
    QVariantMap all;
    QVariantList schedule;
    if (!loadForChange(&all, &schedule, error)) return std::nullopt;
    return schedule;
}

bool ScheduleStore::loadForChange(QVariantMap* all, QVariantList* schedule,
                                  StoreError* error) const {
    auto domain = read(error);
    if (!domain) return false;
    *all = *domain;
    const QVariant configurations = all->value(QLatin1String(schedulekeys::kConfigurations));
    if (!configurations.isValid()) {
        schedule->clear();
        return true;
    }
    // Something else under these keys is not ours to replace.
    if (configurations.typeId() != QMetaType::QVariantMap) {
        *error = {StoreError::Kind::Unreadable,
                  QStringLiteral("cannot use %1: \"Configurations\" is no dictionary")
                      .arg(preferencesPath())};
        return false;
    }
    const QVariant stored = configurations.toMap().value(QLatin1String(schedulekeys::kSchedule));
    if (stored.isValid() && stored.typeId() != QMetaType::QVariantList) {
        *error = {StoreError::Kind::Unreadable,
                  QStringLiteral("cannot use %1: \"Configurations\" -> \"Schedule\" is no array")
                      .arg(preferencesPath())};
        return false;
    }
    *schedule = stored.toList();
    return true;
}

bool ScheduleStore::store(QVariantMap all, const QVariantList& schedule, StoreError* error) const {
    QVariantMap configurations = all.value(QLatin1String(schedulekeys::kConfigurations)).toMap();
    configurations.insert(QLatin1String(schedulekeys::kSchedule), schedule);
    all.insert(QLatin1String(schedulekeys::kConfigurations), configurations);
    return writePreferences(all, error);
}

int ScheduleStore::indexOf(const QVariantList& schedule, const QString& name) {
    for (int i = 0; i < schedule.size(); ++i)
        if (configurationName(schedule[i]) == name) return i;
    return -1;
}

bool ScheduleStore::add(const QVariantMap& configuration, StoreError* error) {
    QVariantMap all;
    QVariantList schedule;
    if (!loadForChange(&all, &schedule, error)) return false;
    const QString name = configurationName(configuration);
    if (indexOf(schedule, name) >= 0) {
        *error = {StoreError::Kind::AlreadyExists,
                  QStringLiteral("there is a schedule named \"%1\" already").arg(name)};
        return false;
    }
    schedule.append(configuration);
    return store(all, schedule, error);
}

bool ScheduleStore::setEnabled(const QString& name, bool enabled, StoreError* error) {
    QVariantMap all;
    QVariantList schedule;
    if (!loadForChange(&all, &schedule, error)) return false;
    const int i = indexOf(schedule, name);
    if (i < 0 || schedule[i].typeId() != QMetaType::QVariantMap) {
        *error = noSuchSchedule(name);
        return false;
    }
    QVariantMap configuration = schedule[i].toMap();
    configuration.insert(QLatin1String(schedulekeys::kEnabled), enabled);
    schedule[i] = configuration;
    return store(all, schedule, error);
}

bool ScheduleStore::remove(const QString& name, StoreError* error) {
    QVariantMap all;
    QVariantList schedule;
    if (!loadForChange(&all, &schedule, error)) return false;
    const int i = indexOf(schedule, name);
    if (i < 0) {
        *error = noSuchSchedule(name);
        return false;
    }
    schedule.removeAt(i);
    return store(all, schedule, error);
}

std::optional<AdvanceResult> ScheduleStore::advanceAfterRun(const QString& name,
                                                            const QDateTime& now,
                                                            StoreError* error) {
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

bool ScheduleStore::removeAutorestartedReport(StoreError* error) {
    auto all = read(error);
    if (!all) return false;
    if (!all->contains(QLatin1String(schedulekeys::kAutorestartedQueueConfig))) return true;
    all->remove(QLatin1String(schedulekeys::kAutorestartedQueueConfig));
    return writePreferences(*all, error);
}

}  // namespace varno
