// Varno as the agent's peer: started without a command, it serves
// "com.kvxlabs.Varno2", fetches the agent's waiting action, acknowledges it,
// performs it, and has the agent check its schedule again.
//
//   2  runs the queue the schedule configuration names, then moves the
//      configuration's "NextExecution" on by its interval to the first date
//      after now (a configuration that does not repeat is disabled instead)
//   1  runs the queue named for hard restarts
//   0  shows the report of the queue run before the automatic restart and
//      removes "AutorestartedQueueConfig"
#include <QDBusConnection>
#include <QDateTime>

#include "agentlink.h"
#include "app/plistbridge.h"
#include "commandline.h"
#include "commandsupport.h"
#include "launchagent.h"
#include "plist/plist.h"
#include "schedulestore.h"

namespace varno {

namespace {

// A report as the person reads it: text as it is, anything else as the
// property list it is.
QString reportText(const QVariant& report) {
    if (report.typeId() == QMetaType::QString) return report.toString() + u'\n';
    auto value = app::plistFromVariant(report);
    if (!value) return QStringLiteral("(a report without a property-list form)\n");
    return QString::fromStdString(plist::writeXML(*value));
}

}  // namespace

void CommandLine::debugLine(const QString& text) {
    if (agentDebug_) printError(QStringLiteral("DEBUG: ") + text);
}

int CommandLine::agentPeer() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        printError(QStringLiteral("no command given, and no session bus to find the agent on"));
        std::fprintf(err_, "%s\n", kUsage);
        return kExitUnavailable;
    }
    AgentLink link(bus);
    QString error;
    // Two copies must never perform one action twice: the first holds the name.
    if (!link.registerServer(&error)) {
        printError(QStringLiteral("cannot serve %1 (is another Varno serving the agent?): %2")
                       .arg(QLatin1String(kVarnoServerName), error));
        return kExitUnavailable;
    }
    debugLine(QStringLiteral("serving %1").arg(QLatin1String(kVarnoServerName)));
    if (!link.connectToAgent(&error)) {
        printError(QStringLiteral("no command given, and %1").arg(error));
        std::fprintf(err_, "%s\n", kUsage);
        return kExitUnavailable;
    }
    debugLine(QStringLiteral("connected to %1").arg(QLatin1String(kAgentServerName)));
    const std::optional<QVariantMap> action = link.waitingAction(&error);
    if (!action) {
        printError(error);
        return kExitUnavailable;
    }
    if (action->isEmpty()) {
        // Not started for a waiting action: leave the agent as it is.
        print(QStringLiteral("Nothing waits to be done: the agent holds no waiting action.\n"));
        return 0;
    }
    debugLine(QStringLiteral("waiting action %1")
                  .arg(action->value(QLatin1String(kActionKey)).toString()));
    if (!link.waitingActionReceived(&error)) printError(QStringLiteral("warning: ") + error);
    const int status = performWaitingAction(*action);
    // Whatever the outcome: the agent stopped its schedule check to hand the
    // action over, and only this call starts it again.
    if (!link.startScheduleCheckTimer(&error))
        printError(QStringLiteral("warning: ") + error);
    else
        debugLine(QStringLiteral("asked the agent to check its schedule again"));
    return status;
}

int CommandLine::performWaitingAction(const QVariantMap& action) {
    const QVariant code = action.value(QLatin1String(kActionKey));
    const QVariant context = action.value(QLatin1String(kContextInfoKey));
    const bool integer = code.typeId() == QMetaType::LongLong || code.typeId() == QMetaType::Int ||
                         code.typeId() == QMetaType::ULongLong;
    const qlonglong number = integer ? code.toLongLong() : -1;
    if (number == kScheduledQueueAction) return runScheduledQueue(context);
    if (number == kHardRestartQueueAction) {
        if (context.typeId() != QMetaType::QString) {
            printError(QStringLiteral("the hard-restart action names no queue"));
            return kExitSoftware;
        }
        print(QStringLiteral("Queue after a hard restart \"%1\"\n").arg(context.toString()));
        return runQueueNamed(context.toString());
    }
    if (number == kAutorestartedReportAction) {
        print(QStringLiteral("Report of the queue run before the automatic restart:\n"));
        print(context.isValid() ? reportText(context) : QStringLiteral("(no report)\n"));
        StoreError error;
        if (!ScheduleStore().removeAutorestartedReport(&error)) return storeFailure(error);
        return 0;
    }
    printError(QStringLiteral("unknown waiting action \"%1\"").arg(code.toString()));
    return kExitSoftware;
}

int CommandLine::runScheduledQueue(const QVariant& configuration) {
    if (configuration.typeId() != QMetaType::QVariantMap) {
        printError(QStringLiteral("the scheduled queue's action holds no configuration"));
        return kExitSoftware;
    }
    const QString name = configurationName(configuration);
    const QString queue = scheduledQueueName(configuration);
    print(QStringLiteral("Scheduled queue \"%1\" (schedule \"%2\")\n").arg(queue, name));
    const int status = runQueueNamed(queue);
    StoreError error;
    // The run took its turn, whatever its outcome: left as it is, the
    // schedule would come due again at once.
    const std::optional<AdvanceResult> advanced =
        ScheduleStore().advanceAfterRun(name, QDateTime::currentDateTimeUtc(), &error);
    if (!advanced) {
        printError(error.message);
        return status ? status : kExitIOError;
    }
    return reportAdvance(name, *advanced, status);
}

int CommandLine::reportAdvance(const QString& name, AdvanceResult advanced, int status) {
    switch (advanced) {
        case AdvanceResult::Advanced:
        case AdvanceResult::AlreadyFuture: {
            StoreError error;
            QVariant next;
            for (const QVariant& c : ScheduleStore().schedules(&error).value_or(QVariantList()))
                if (configurationName(c) == name) next = c;
            const std::optional<QDateTime> date = nextExecution(next);
            print(QStringLiteral("Next execution of schedule \"%1\": %2\n")
                      .arg(name, date ? scheduleDateText(*date) : QStringLiteral("unknown")));
            break;
        }
        case AdvanceResult::Disabled:
            print(QStringLiteral("Schedule \"%1\" does not repeat: disabled\n").arg(name));
            if (int launch = updateLaunchAgent(); launch && !status) status = launch;
            break;
        case AdvanceResult::NotFound:
            printError(QStringLiteral("warning: there is no schedule named \"%1\" any more; "
                                      "no next execution was set")
                           .arg(name));
            break;
    }
    return status;
}

int CommandLine::runQueueNamed(const QString& name) {
    if (name.isEmpty()) {
        printError(QStringLiteral("the waiting action names no queue"));
        return kExitSoftware;
    }
    return runQueue(name, false);
}

int CommandLine::updateLaunchAgent() {
    StoreError error;
    const std::optional<QVariantMap> domain = ScheduleStore().read(&error);
    if (!domain) return storeFailure(error);
    QStringList done;
    QStringList warnings;
    const bool ok = LaunchAgent(LaunchAgent::defaultAgentBundle()).apply(*domain, &done, &warnings);
    for (const QString& line : done) print(QStringLiteral("  ") + line + u'\n');
    for (const QString& w : warnings) printError(QStringLiteral("warning: ") + w);
    return ok ? 0 : kExitIOError;
}

}  // namespace varno
