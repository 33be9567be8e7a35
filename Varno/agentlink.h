#pragma once
// Varno's side of the link with the agent on the session bus: Varno serves
// "com.kvxlabs.Varno2" (the agent only looks the name up), looks up the
// agent's root object "com.kvxlabs.Varno2.agent" and calls it.

#include <QDBusConnection>
#include <QDBusPendingReply>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <memory>
#include <optional>

#include "schedule/model.h"

class ComKvxlabsVarno2AgentInterface;

namespace varno {

inline constexpr const char* kVarnoServerName = schedule::kVarnoIdentifier;
inline constexpr const char* kAgentServerName = schedule::kAgentIdentifier;

// The waiting action's keys and codes, as the agent stores them.
inline constexpr const char* kActionKey = schedule::keys::kActionWaitingAgentAction;
inline constexpr const char* kContextInfoKey = schedule::keys::kContextInfoWaitingAgentAction;
using schedule::kAutorestartedReportAction;
using schedule::kHardRestartQueueAction;
using schedule::kScheduledQueueAction;

class AgentLink {
  public:
    explicit AgentLink(QDBusConnection connection);
    ~AgentLink();
    AgentLink(const AgentLink&) = delete;
    AgentLink& operator=(const AgentLink&) = delete;

    // Takes "com.kvxlabs.Varno2"; false when it has an owner (another Varno
    // serves the agent) or there is no bus.
    bool registerServer(QString* error);
    // Looks up the agent; false when it is not on the bus.
    bool connectToAgent(QString* error);

    // The waiting action: an empty dictionary when none waits; nullopt (with
    // *error) when the call fails or the answer is no dictionary.
    std::optional<QVariantMap> waitingAction(QString* error);
    bool waitingActionReceived(QString* error);
    bool startScheduleCheckTimer(QString* error);

    // Milliseconds a call may take (the agent answers from its event loop).
    void setCallTimeout(int milliseconds) { timeout_ = milliseconds; }

  private:
    // False (with *error) before connectToAgent succeeded.
    bool ready(QString* error);
    // Waits for a reply of the generated proxy; false (with *error) when
    // there is no agent or the call fails.
    bool finish(QDBusPendingCall call, const char* member, QString* error);

    QDBusConnection connection_;
    QObject root_;
    bool serving_ = false;
    std::unique_ptr<ComKvxlabsVarno2AgentInterface> agent_;
    int timeout_ = 30000;
};

}  // namespace varno
