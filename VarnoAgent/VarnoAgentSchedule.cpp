// The schedule: which configurations are due, the countdown before one runs,
// postponing and disabling, and handing the queue to the main application.
#include <QDateTimeEdit>
#include <QDialog>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "AgentAlerts.h"
#include "AgentDebug.h"
#include "CountdownAlert.h"
#include "VarnoAgentDelegate.h"
#include "app/application.h"
#include "app/log.h"
#include "app/userdefaults.h"
#include "host/root.h"
#include "schedule/model.h"

namespace {

// The demo answers the countdown without a hand on the mouse. Only a sandbox
// root honours it: on a real machine nothing but the user starts a queue early.
bool countdownAnsweredWithStartNow() {
    const char* answer = std::getenv("VARNO_AGENT_COUNTDOWN_ANSWER");
    return answer != nullptr && std::string_view(answer) == "start-now" && host::isSandboxed();
}

}  // namespace

std::weak_ordering nextExecutionSort(const QVariant& first, const QVariant& second, void*) {
    const std::optional<QDateTime> a = schedule::nextExecution(first);
    const std::optional<QDateTime> b = schedule::nextExecution(second);
    // Only configurations with a date are ever due; one without sorts last.
    if (!a && !b) return std::weak_ordering::equivalent;
    if (!a) return std::weak_ordering::greater;
    if (!b) return std::weak_ordering::less;
    const qint64 x = a->toMSecsSinceEpoch();
    const qint64 y = b->toMSecsSinceEpoch();
    return x <=> y;
}

std::optional<QVariantList> VarnoAgentDelegate::scheduleConfigurations() const {
    return schedule::scheduleArray(domain());
}

QVariantList VarnoAgentDelegate::enabledScheduleConfigurations() const {
    QVariantList enabled;
    for (const QVariant& configuration : scheduleConfigurations().value_or(QVariantList()))
        if (schedule::isEnabled(configuration)) enabled << configuration;
    return enabled;
}

QVariantList VarnoAgentDelegate::unrunScheduleConfigurations() const {
    const QDateTime now = clock_();
    QVariantList due;
    for (const QVariant& configuration : enabledScheduleConfigurations()) {
        // A configuration without a date is never due.
        const std::optional<QDateTime> next = schedule::nextExecution(configuration);
        if (next && *next <= now) due << configuration;
    }
    std::stable_sort(due.begin(), due.end(), [](const QVariant& a, const QVariant& b) {
        return nextExecutionSort(a, b) < 0;
    });
    return due;
}

double VarnoAgentDelegate::timeIntervalForScheduleInterval(int interval) {
    return schedule::timeIntervalForScheduleInterval(interval);
}

QVariant VarnoAgentDelegate::autorestartedQueueReport() const {
    return domain().value(KVXAutorestartedQueueReportDefaultsKey);
}

void VarnoAgentDelegate::startScheduleCheckTimer() {
    if (terminating_) return;
    if (enabledScheduleConfigurations().isEmpty()) {
        DLog("No active schedules. Quitting...");
        terminate();
        return;
    }
    DLog("startScheduleCheckTimer");
    if (scheduleCheckTimer_) scheduleCheckTimer_->stop();
    auto* timer = new QTimer;
    timer->setInterval(scheduleCheckInterval_);
    connect(timer, &QTimer::timeout, this, [this, timer] { checkSchedule(timer); });
    setScheduleCheckTimer(timer);
    timer->start();
    checkSchedule(timer);
}

void VarnoAgentDelegate::checkSchedule(QTimer* timer) {
    if (terminating_) return;
    setWaitingAction(std::nullopt);
    if (enabledScheduleConfigurations().isEmpty()) {
        DLog("No active schedules. Quitting...");
        terminate();
        return;
    }
    const QVariantList due = unrunScheduleConfigurations();
    if (due.isEmpty()) return;
    const QVariant queueName = schedule::queueName(due.first());
    DLog("Unrun scheduled queue found: %@", queueName);
    if (timer != nullptr) timer->stop();
    setWorkingAction(1);
    CountdownAlert* alert = countdownAlert();
    configureScheduledQueueCountdown(*alert, queueName, icon());
    app::beep();
    app::activateIgnoringOtherApps();
    alert->restartTimerAndShowWindow();
    if (countdownAnsweredWithStartNow()) {
        DLog("Answering the countdown with Start Now");
        // Once the window is up, and only if it still waits for an answer.
        QTimer::singleShot(0, alert, [alert] {
            if (alert->window()->isVisible()) alert->firstButton()->click();
        });
    }
}

void VarnoAgentDelegate::countdownWindowDidCloseWithReturnCode(qint64 returnCode) {
    DLog("countdownWindowDidCloseWithReturnCode: %d", returnCode);
    switch (returnCode) {
        case 2:
            postponeScheduledQueue();
            break;
        case 3:
            disableScheduledQueue();
            break;
        default:
            runFirstUnrunQueue();
            break;
    }
}

void VarnoAgentDelegate::runFirstUnrunQueue() {
    DLog("runFirstUnrunQueue");
    const QVariantList due = unrunScheduleConfigurations();
    if (due.isEmpty()) {
        terminate();
        return;
    }
    promptVarnoToPerformAction(KVXWaitingAgentActionScheduledQueue, due.first());
}

void VarnoAgentDelegate::promptVarnoToPerformAction(int action, const QVariant& contextInfo) {
    setWaitingAction(waitingActionFromAction(action, contextInfo));
    launchVarno();
}

QVariantMap VarnoAgentDelegate::waitingActionFromAction(int action,
                                                        const QVariant& contextInfo) const {
    DLog("waitingActionFromAction: %d contextInfo: %@", action, contextInfo);
    QVariantMap waiting{{KVXActionWaitingAgentActionKey, action}};
    if (contextInfo.isValid()) waiting.insert(KVXContextInfoWaitingAgentActionKey, contextInfo);
    return waiting;
}

void VarnoAgentDelegate::waitingActionReceived() {
    DLog("waitingActionReceived");
}

void VarnoAgentDelegate::postponeScheduledQueue() {
    DLog("postponeScheduledQueue:");
    const QVariantList due = unrunScheduleConfigurations();
    // Nothing due any more (the main application changed the schedule
    // meanwhile): there is nothing to postpone; look at the schedule again.
    if (due.isEmpty()) {
        checkSchedule(nullptr);
        return;
    }
    const QVariant& configuration = due.first();
    const QDateTime preset = clock_().addMSecs(static_cast<qint64>(
        timeIntervalForScheduleInterval(schedule::intervalCode(configuration)) * 1000));
    auto alert = makePostponeAlert(schedule::queueName(configuration), preset, icon());
    if (alert->runModal() == app::Alert::kDefaultReturn) {
        const QDateTime chosen = postponeDatePicker(*alert)->dateTime().toUTC();
        updateScheduleConfiguration(configuration, KVXNextExecutionScheduleConfigurationKey,
                                    chosen);
    }
    checkSchedule(nullptr);
}

void VarnoAgentDelegate::disableScheduledQueue() {
    DLog("disableScheduledQueue:");
    const QVariantList due = unrunScheduleConfigurations();
    if (due.isEmpty()) {
        checkSchedule(nullptr);
        return;
    }
    const QVariant& configuration = due.first();
    auto alert = makeDisableAlert(schedule::queueName(configuration), icon());
    if (alert->runModal() == app::Alert::kDefaultReturn) {
        updateScheduleConfiguration(configuration, KVXEnabledScheduleConfigurationKey, false);
        if (enabledScheduleConfigurations().isEmpty()) {
            reconfigureLaunchAgent();
            return;
        }
    }
    checkSchedule(nullptr);
}

void VarnoAgentDelegate::updateScheduleConfiguration(const QVariant& due, const QString& key,
                                                     const QVariant& value) {
    const QVariant name = schedule::configurationName(due);
    if (!name.isValid()) return;
    app::DictionaryFile read = app::persistentDomainForName(KVXVarno2Identifier);
    // A domain that cannot be read is never written: what it holds is not ours to lose.
    if (read.state != app::FileState::Present) return;
    QVariantMap domain = read.dictionary;
    QVariantMap configurations = domain.value(KVXConfigurationsDefaultsKey).toMap();
    std::optional<QVariantList> list = schedule::scheduleArray(domain);
    if (!list) return;
    for (QVariant& entry : *list) {
        if (schedule::configurationName(entry) != name) continue;
        QVariantMap configuration = entry.toMap();
        configuration.insert(key, value);
        entry = configuration;
        configurations.insert(KVXScheduleTask, *list);
        domain.insert(KVXConfigurationsDefaultsKey, configurations);
        QString error;
        if (!app::setPersistentDomain(domain, KVXVarno2Identifier, &error)) app::NSLog(error);
        return;
    }
}
