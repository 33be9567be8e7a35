#include "ScheduleConfiguration.h"

#include <cmath>
#include <limits>

#include "AgentConstants.h"

namespace schedule {
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

QVariant entry(const QVariant& configuration, const QString& key) {
    if (configuration.typeId() != QMetaType::QVariantMap) return {};
    return configuration.toMap().value(key);
}

QVariant stringOrNil(const QVariant& value) {
    return value.typeId() == QMetaType::QString ? value : QVariant();
}

}  // namespace

std::optional<QVariantMap> dictionary(const QVariant& value) {
    if (value.typeId() != QMetaType::QVariantMap) return std::nullopt;
    return value.toMap();
}

bool booleanValue(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    if (value.typeId() == QMetaType::Double) return value.toDouble() != 0.0;
    if (isNumber(value)) return value.toULongLong() != 0;
    return false;
}

std::optional<QVariantList> scheduleArray(const QVariantMap& domain) {
    std::optional<QVariantMap> configurations =
        dictionary(domain.value(KVXConfigurationsDefaultsKey));
    if (!configurations) return std::nullopt;
    const QVariant schedule = configurations->value(KVXScheduleTask);
    if (schedule.typeId() != QMetaType::QVariantList) return std::nullopt;
    return schedule.toList();
}

bool isEnabled(const QVariant& configuration) {
    return booleanValue(entry(configuration, KVXEnabledScheduleConfigurationKey));
}

std::optional<QDateTime> nextExecution(const QVariant& configuration) {
    const QVariant date = entry(configuration, KVXNextExecutionScheduleConfigurationKey);
    if (date.typeId() != QMetaType::QDateTime || !date.toDateTime().isValid()) return std::nullopt;
    return date.toDateTime();
}

QVariant queueName(const QVariant& configuration) {
    return stringOrNil(entry(configuration, KVXQueueNameScheduleConfigurationKey));
}

int intervalCode(const QVariant& configuration) {
    const QVariant code = entry(configuration, KVXIntervalScheduleConfigurationKey);
    if (!isNumber(code)) return 0;
    // A number beyond an int's range is no interval code.
    const double value = code.toDouble();
    if (!std::isfinite(value) || value < std::numeric_limits<int>::min() ||
        value > std::numeric_limits<int>::max())
        return -1;
    if (code.typeId() == QMetaType::Double) return static_cast<int>(value);
    return static_cast<int>(code.toLongLong());
}

QVariant configurationName(const QVariant& configuration) {
    return stringOrNil(entry(configuration, KVXConfigurationNameConfigurationKey));
}

}  // namespace schedule
