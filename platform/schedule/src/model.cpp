#include "schedule/model.h"

#include <cmath>
#include <limits>

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

QVariant entry(const QVariant& configuration, const char* key) {
    if (configuration.typeId() != QMetaType::QVariantMap) return {};
    return configuration.toMap().value(QLatin1String(key));
}

QVariant stringOrNil(const QVariant& value) {
    return value.typeId() == QMetaType::QString ? value : QVariant();
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
        dictionary(domain.value(QLatin1String(keys::kConfigurations)));
    if (!configurations) return std::nullopt;
    const QVariant schedule = configurations->value(QLatin1String(keys::kSchedule));
    if (schedule.typeId() != QMetaType::QVariantList) return std::nullopt;
    return schedule.toList();
}

bool isEnabled(const QVariant& configuration) {
    return booleanValue(entry(configuration, keys::kEnabled));
}

std::optional<QDateTime> nextExecution(const QVariant& configuration) {
    const QVariant date = entry(configuration, keys::kNextExecution);
    if (date.typeId() != QMetaType::QDateTime || !date.toDateTime().isValid()) return std::nullopt;
    return date.toDateTime();
}

QVariant queueName(const QVariant& configuration) {
    return stringOrNil(entry(configuration, keys::kQueueName));
}

int intervalCode(const QVariant& configuration) {
    const QVariant code = entry(configuration, keys::kInterval);
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
    return stringOrNil(entry(configuration, keys::kConfigurationName));
}

bool anyScheduleEnabled(const QVariantMap& domain) {
    for (const QVariant& configuration : scheduleArray(domain).value_or(QVariantList()))
        if (isEnabled(configuration)) return true;
    return false;
}

bool startupChecksEnabled(const QVariantMap& domain) {
    const QVariant automatic = domain.value(QLatin1String(keys::kAutomaticExecution));
    return booleanValue(entry(automatic, keys::kHardRestartQueueEnabled)) ||
           booleanValue(entry(automatic, keys::kSMARTStatusMonitorEnabled));
}

}  // namespace schedule
