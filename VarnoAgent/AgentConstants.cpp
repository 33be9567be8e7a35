#include "AgentConstants.h"

const QString KVXVarnoAgentIdentifier = QStringLiteral("com.kvxlabs.Varno2.agent");
const QString KVXVarno2Identifier = QStringLiteral("com.kvxlabs.Varno2");
const long UPDATE_INTERVAL = 10;

const QString KVXConfigurationsDefaultsKey = QStringLiteral("Configurations");
const QString KVXScheduleTask = QStringLiteral("Schedule");
const QString KVXAutomaticExecutionTask = QStringLiteral("AutomaticExecution");
const QString KVXConfigurationNameConfigurationKey = QStringLiteral("ConfigurationName");
const QString KVXQueueNameScheduleConfigurationKey = QStringLiteral("QueueName");
const QString KVXEnabledScheduleConfigurationKey = QStringLiteral("Enabled");
const QString KVXNextExecutionScheduleConfigurationKey = QStringLiteral("NextExecution");
const QString KVXIntervalScheduleConfigurationKey = QStringLiteral("Interval");
const QString KVXEnableHardRestartQueueAutomaticExecutionConfigurationKey =
    QStringLiteral("HardRestartQueueEnabled");
const QString KVXEnableMonitorSMARTStatusAutomaticExecutionConfigurationKey =
    QStringLiteral("SMARTStatusMonitorEnabled");
const QString KVXQueueNameHardRestartAutomaticExecutionConfigurationKey =
    QStringLiteral("HardRestartQueueName");
const QString KVXAutorestartedQueueReportDefaultsKey = QStringLiteral("AutorestartedQueueConfig");
const QString KVXLastSeenHostSessionDefaultsKey = QStringLiteral("LastSeenHostSession");
const QString KVXActionWaitingAgentActionKey = QStringLiteral("KVXActionWaitingAgentActionKey");
const QString KVXContextInfoWaitingAgentActionKey =
    QStringLiteral("KVXContextInfoWaitingAgentActionKey");

const QString KVXSupportAddress = QStringLiteral("support@kvxlabs.com");
