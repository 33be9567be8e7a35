#include "AgentRemoteObject.h"

#include "VarnoAgentDelegate.h"
#include "agentadaptor.h"
#include "app/plistbridge.h"

AgentRemoteObject::AgentRemoteObject(VarnoAgentDelegate* delegate)
    : QObject(delegate), delegate_(delegate) {
    new AgentAdaptor(this);  // owned by this object
}

QString AgentRemoteObject::waitingAction() const {
    const std::optional<QVariantMap>& action = delegate_->waitingAction();
    if (!action) return QString();
    std::optional<QByteArray> document = app::xmlPropertyList(*action);
    return document ? QString::fromUtf8(*document) : QString();
}

void AgentRemoteObject::waitingActionReceived() {
    delegate_->waitingActionReceived();
}

int AgentRemoteObject::workingAction() const {
    return delegate_->workingAction();
}

bool AgentRemoteObject::connectToVarno() {
    return delegate_->connectToVarno();
}

void AgentRemoteObject::startScheduleCheckTimer() {
    delegate_->startScheduleCheckTimer();
}

void AgentRemoteObject::checkSchedule() {
    delegate_->checkSchedule(nullptr);
}
