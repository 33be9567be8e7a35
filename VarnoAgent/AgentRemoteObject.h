#pragma once
// What the agent's root object offers on the bus. It hands every call to the
// application delegate; the waiting action crosses as a copy in property-list
// form, so dates and data arrive as they are.

#include <QObject>
#include <QString>

class VarnoAgentDelegate;

class AgentRemoteObject : public QObject {
    Q_OBJECT
  public:
    explicit AgentRemoteObject(VarnoAgentDelegate* delegate);

    QString waitingAction() const;
    void waitingActionReceived();
    int workingAction() const;
    bool connectToVarno();
    void startScheduleCheckTimer();
    void checkSchedule();

  private:
    VarnoAgentDelegate* delegate_;
};
