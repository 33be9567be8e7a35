#pragma once
// The agent's identity, the keys it reads in the main application's
// preferences domain, the waiting-action codes, and its timing.

#include <QString>

#include "schedule/model.h"

// launchd label, launch agent file name and the agent's server name.
extern const QString KVXVarnoAgentIdentifier;
// The main application's preferences domain and server name.
extern const QString KVXVarno2Identifier;
// Seconds between two schedule checks.
extern const long UPDATE_INTERVAL;

extern const QString KVXConfigurationsDefaultsKey;
extern const QString KVXScheduleTask;
extern const QString KVXAutomaticExecutionTask;
extern const QString KVXConfigurationNameConfigurationKey;
extern const QString KVXQueueNameScheduleConfigurationKey;
extern const QString KVXEnabledScheduleConfigurationKey;
extern const QString KVXNextExecutionScheduleConfigurationKey;
extern const QString KVXIntervalScheduleConfigurationKey;
extern const QString KVXEnableHardRestartQueueAutomaticExecutionConfigurationKey;
extern const QString KVXEnableMonitorSMARTStatusAutomaticExecutionConfigurationKey;
extern const QString KVXQueueNameHardRestartAutomaticExecutionConfigurationKey;
extern const QString KVXAutorestartedQueueReportDefaultsKey;
extern const QString KVXLastSeenHostSessionDefaultsKey;
extern const QString KVXActionWaitingAgentActionKey;
extern const QString KVXContextInfoWaitingAgentActionKey;

// What the main application is asked to do when it fetches the waiting action.
enum KVXWaitingAgentAction : int {
    KVXWaitingAgentActionAutorestartedReport = schedule::kAutorestartedReportAction,
    KVXWaitingAgentActionHardRestartQueue = schedule::kHardRestartQueueAction,
    KVXWaitingAgentActionScheduledQueue = schedule::kScheduledQueueAction,
};

// Where users are asked to write when something goes wrong.
extern const QString KVXSupportAddress;

// Seconds a scheduled queue is counted down before it starts.
inline constexpr quint64 kScheduledQueueCountdownTime = 30;
// The icon of the agent's windows, in its bundle's resources.
inline constexpr const char* kAgentIconName = "VarnoIcon64";
