#pragma once
// Typed reading of the main application's preferences: schedule
// configurations and the automatic-execution settings. An entry of the wrong
// type counts as absent, so no preferences file can mislead or stop the agent.

#include <QDateTime>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <optional>

namespace schedule {

// The value as a dictionary; nullopt when it is none.
std::optional<QVariantMap> dictionary(const QVariant& value);
// True for a true boolean or a non-zero number; false for anything else.
bool booleanValue(const QVariant& value);
// "Configurations" -> "Schedule" of a domain; nullopt when either is missing
// or of the wrong type.
std::optional<QVariantList> scheduleArray(const QVariantMap& domain);

bool isEnabled(const QVariant& configuration);
// nullopt when missing or no date.
std::optional<QDateTime> nextExecution(const QVariant& configuration);
// The queue's name, or an invalid value (shown as "(null)") when it is none.
QVariant queueName(const QVariant& configuration);
// The "Interval" code; 0 (as for a missing number) when it is no number.
int intervalCode(const QVariant& configuration);
// The "ConfigurationName" string, or an invalid value.
QVariant configurationName(const QVariant& configuration);

}  // namespace schedule
