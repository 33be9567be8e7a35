#pragma once
// The schedule as the main application and the agent both read it, in the
// preferences domain "com.kvxlabs.Varno2":
//
//   Configurations  dictionary
//     Schedule      array of schedule configurations:
//       ConfigurationName  string, the configuration's identity
//       QueueName          string, the queue to run
//       Enabled            boolean
//       NextExecution      date
//       Interval           integer code (timeIntervalForScheduleInterval)
//   AutomaticExecution  dictionary: HardRestartQueueEnabled,
//                       SMARTStatusMonitorEnabled, HardRestartQueueName
//   AutorestartedQueueConfig  the report of a queue run before a restart
//   LastSeenHostSession       the agent's record of the last session start
//
// An entry of the wrong type counts as absent, so no preferences file can
// mislead or stop either program.

#include <QDateTime>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <optional>

namespace schedule {

// The main application's preferences domain and server name.
inline constexpr const char* kVarnoIdentifier = "com.kvxlabs.Varno2";
// The agent's launchd label, launch agent file name and server name.
inline constexpr const char* kAgentIdentifier = "com.kvxlabs.Varno2.agent";

namespace keys {
inline constexpr const char* kConfigurations = "Configurations";
inline constexpr const char* kSchedule = "Schedule";
inline constexpr const char* kConfigurationName = "ConfigurationName";
inline constexpr const char* kQueueName = "QueueName";
inline constexpr const char* kEnabled = "Enabled";
inline constexpr const char* kNextExecution = "NextExecution";
inline constexpr const char* kInterval = "Interval";
inline constexpr const char* kAutomaticExecution = "AutomaticExecution";
inline constexpr const char* kHardRestartQueueEnabled = "HardRestartQueueEnabled";
inline constexpr const char* kSMARTStatusMonitorEnabled = "SMARTStatusMonitorEnabled";
inline constexpr const char* kHardRestartQueueName = "HardRestartQueueName";
inline constexpr const char* kAutorestartedQueueConfig = "AutorestartedQueueConfig";
inline constexpr const char* kLastSeenHostSession = "LastSeenHostSession";
// The waiting action the agent hands to the main application.
inline constexpr const char* kActionWaitingAgentAction = "KVXActionWaitingAgentActionKey";
inline constexpr const char* kContextInfoWaitingAgentAction = "KVXContextInfoWaitingAgentActionKey";
}  // namespace keys

// What the main application is asked to do when it fetches the waiting action.
enum WaitingAction : int {
    kAutorestartedReportAction = 0,
    kHardRestartQueueAction = 1,
    kScheduledQueueAction = 2,
};

// Seconds of an interval code: 0 and 1 a day, 2 a week, 3 two weeks, 4 30
// days, 5 61 days; 0 for any other code (no repetition).
double timeIntervalForScheduleInterval(int code);

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
// The "Interval" code; 0 (as for a missing number) when it is no number, -1
// beyond an int's range.
int intervalCode(const QVariant& configuration);
// The "ConfigurationName" string, or an invalid value.
QVariant configurationName(const QVariant& configuration);

// Whether anything needs the agent at login: an enabled schedule, the
// hard-restart check or the S.M.A.R.T. check.
bool anyScheduleEnabled(const QVariantMap& domain);
bool startupChecksEnabled(const QVariantMap& domain);

}  // namespace schedule
