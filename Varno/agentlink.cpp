#include "agentlink.h"

#include <QDBusAbstractInterface>

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
    agent_ = app::rootProxyForConnection(connection_, QLatin1String(kAgentServerName));
    if (agent_) return true;
    *error = QStringLiteral("the agent \"%1\" is not running").arg(QLatin1String(kAgentServerName));
    return false;
}

std::optional<QDBusMessage> AgentLink::call(const char* member, QString* error) {
    if (!agent_) {
        *error = QStringLiteral("not connected to the agent");
        return std::nullopt;
    }
    const QDBusMessage message = QDBusMessage::createMethodCall(
        agent_->service(), agent_->path(), QLatin1String(kAgentInterface), QLatin1String(member));
    QDBusMessage reply = connection_.call(message, QDBus::Block, timeout_);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *error = QStringLiteral("the agent did not answer %1: %2")
                     .arg(QLatin1String(member), reply.errorMessage());
        return std::nullopt;
    }
    return reply;
}

std::optional<QVariantMap> AgentLink::waitingAction(QString* error) {
    auto reply = call("waitingAction", error);
    if (!reply) return std::nullopt;
    const QList<QVariant> arguments = reply->arguments();
    if (arguments.size() != 1 || arguments.first().typeId() != QMetaType::QString) {
        *error = QStringLiteral("the agent's waiting action is no text");
        return std::nullopt;
    }
    const QByteArray document = arguments.first().toString().toUtf8();
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
    return call("waitingActionReceived", error).has_value();
}

bool AgentLink::startScheduleCheckTimer(QString* error) {
    return call("startScheduleCheckTimer", error).has_value();
}

}  // namespace varno
