#include "agentlink.h"

#include <QDBusAbstractInterface>

#include "agentinterface.h"
#include "app/connection.h"
#include "app/plistbridge.h"
#include "plist/plist.h"

namespace varno {

AgentLink::AgentLink(QDBusConnection connection) : connection_(std::move(connection)) {}

AgentLink::~AgentLink() {
    if (serving_) app::unregisterServer(connection_, QLatin1String(kVarnoServerName));
}

bool AgentLink::registerServer(QString* error) {
    serving_ = app::registerServer(connection_, QLatin1String(kVarnoServerName), &root_, error);
    return serving_;
}

bool AgentLink::connectToAgent(QString* error) {
    // The lookup says whether anyone holds the name; the calls go through the
    // proxy generated from the interface description the agent serves.
    if (app::rootProxyForConnection(connection_, QLatin1String(kAgentServerName))) {
        agent_ = std::make_unique<ComKvxlabsVarno2AgentInterface>(
            QLatin1String(kAgentServerName), QLatin1String(app::kRootObjectPath), connection_);
        return true;
    }
    *error = QStringLiteral("the agent \"%1\" is not running").arg(QLatin1String(kAgentServerName));
    return false;
}

bool AgentLink::ready(QString* error) {
    if (!agent_) {
        *error = QStringLiteral("not connected to the agent");
        return false;
    }
    agent_->setTimeout(timeout_);
    return true;
}

bool AgentLink::finish(QDBusPendingCall call, const char* member, QString* error) {
    // A reply of another type than the description's is an error here too.
    call.waitForFinished();
    if (!call.isError()) return true;
    *error = QStringLiteral("the agent did not answer %1: %2")
                 .arg(QLatin1String(member), call.error().message());
    return false;
}

std::optional<QVariantMap> AgentLink::waitingAction(QString* error) {
    if (!ready(error)) return std::nullopt;
    QDBusPendingReply<QString> reply = agent_->waitingAction();
    if (!finish(reply, "waitingAction", error)) return std::nullopt;
    const QByteArray document = reply.value().toUtf8();
    if (document.isEmpty()) return QVariantMap{};
    plist::ParseError parseError;
    auto value = plist::parse(std::string_view(document.constData(), document.size()), &parseError);
    if (!value || !value->isDictionary()) {
        *error = QStringLiteral("the agent's waiting action is no dictionary: %1")
                     .arg(value ? QStringLiteral("another value")
                                : QString::fromStdString(parseError.message));
        return std::nullopt;
    }
    return app::mapFromPlist(*value->asDictionary());
}

bool AgentLink::waitingActionReceived(QString* error) {
    return ready(error) && finish(agent_->waitingActionReceived(), "waitingActionReceived", error);
}

bool AgentLink::startScheduleCheckTimer(QString* error) {
    return ready(error) &&
           finish(agent_->startScheduleCheckTimer(), "startScheduleCheckTimer", error);
}

}  // namespace varno
