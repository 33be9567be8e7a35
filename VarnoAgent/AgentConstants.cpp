#include "AgentConstants.h"

#include "schedule/model.h"

namespace {
QString key(const char* name) {
    return QLatin1String(name);
}
}  // namespace

const QString KVXVarnoAgentIdentifier = key(schedule::kAgentIdentifier);
const QString KVXVarno2Identifier = key(schedule::kVarnoIdentifier);
const long UPDATE_INTERVAL = 10;

const QString KVXConfigurationsDefaultsKey = key(schedule::keys::kConfigurations);
const QString KVXScheduleTask = key(schedule::keys::kSchedule);
const QString KVXAutomaticExecutionTask = key(schedule::keys::kAutomaticExecution);
const QString KVXConfigurationNameConfigurationKey = key(schedule::keys::kConfigurationName);
const QString KVXQueueNameScheduleConfigurationKey = key(schedule::keys::kQueueName);
const QString KVXEnabledScheduleConfigurationKey = key(schedule::keys::kEnabled);
const QString KVXNextExecutionScheduleConfigurationKey = key(schedule::keys::kNextExecution);
const QString KVXIntervalScheduleConfigurationKey = key(schedule::keys::kInterval);
const QString KVXEnableHardRestartQueueAutomaticExecutionConfigurationKey =
    key(schedule::keys::kHardRestartQueueEnabled);
const QString KVXEnableMonitorSMARTStatusAutomaticExecutionConfigurationKey =
    key(schedule::keys::kSMARTStatusMonitorEnabled);
const QString KVXQueueNameHardRestartAutomaticExecutionConfigurationKey =
    key(schedule::keys::kHardRestartQueueName);
const QString KVXAutorestartedQueueReportDefaultsKey =
    key(schedule::keys::kAutorestartedQueueConfig);
const QString KVXLastSeenHostSessionDefaultsKey = key(schedule::keys::kLastSeenHostSession);
const QString KVXActionWaitingAgentActionKey = key(schedule::keys::kActionWaitingAgentAction);
const QString KVXContextInfoWaitingAgentActionKey =
    key(schedule::keys::kContextInfoWaitingAgentAction);

const QString KVXSupportAddress = QStringLiteral("support@kvxlabs.com");
