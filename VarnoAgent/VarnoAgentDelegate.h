#pragma once
// The agent's application delegate: its start-up, its server on the session
// bus (this object is what peers call), the launch agent it rewrites for
// itself, the link to the main application, and the schedule it watches.

#include <QDBusConnection>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <compare>
#include <functional>
#include <memory>
#include <optional>

#include "AgentConstants.h"
#include "CountdownAlertDelegate.h"

class CountdownAlert;
class QDBusAbstractInterface;

// Orders two schedule configurations by "NextExecution", earliest first. The
// context is not used.
std::weak_ordering nextExecutionSort(const QVariant& first, const QVariant& second,
                                     void* context = nullptr);

class VarnoAgentDelegate : public QObject, public CountdownAlertDelegate {
    Q_OBJECT
  public:
    explicit VarnoAgentDelegate(QObject* parent = nullptr);
    ~VarnoAgentDelegate() override;

    // Properties.
    QTimer* scheduleCheckTimer() const { return scheduleCheckTimer_; }
    // Takes ownership; a replaced timer is deleted (it may be firing now, so later).
    void setScheduleCheckTimer(QTimer* timer);
    const std::optional<QVariantMap>& waitingAction() const { return waitingAction_; }
    void setWaitingAction(std::optional<QVariantMap> action) { waitingAction_ = std::move(action); }
    CountdownAlert* countdownAlert();
    QDBusAbstractInterface* varnoDelegate() const { return varnoDelegate_.get(); }
    int workingAction() const { return workingAction_; }
    void setWorkingAction(int action) { workingAction_ = action; }

    // Start-up, server, launch agent and the main application.
    void applicationDidFinishLaunching();
    void registerServer();
    void reconfigureLaunchAgent();
    void unloadAgent();
    void removeAutostartEntry();
    void launchVarno();
    bool connectToVarno();
    virtual void didConnectToVarno();
    bool hardRestartCheckingEnabled() const;
    bool smartCheckingEnabled() const;

    // The schedule.
    std::optional<QVariantList> scheduleConfigurations() const;
    QVariantList enabledScheduleConfigurations() const;
    QVariantList unrunScheduleConfigurations() const;
    static double timeIntervalForScheduleInterval(int interval);
    QVariant autorestartedQueueReport() const;
    void startScheduleCheckTimer();
    // timer: the schedule check timer when it fires, or nullptr.
    void checkSchedule(QTimer* timer);
    void countdownWindowDidCloseWithReturnCode(qint64 returnCode) override;
    void runFirstUnrunQueue();
    void postponeScheduledQueue();
    void disableScheduledQueue();
    void promptVarnoToPerformAction(int action, const QVariant& contextInfo);
    QVariantMap waitingActionFromAction(int action, const QVariant& contextInfo) const;
    void waitingActionReceived();

    // Checks at the start of a new login session.
    // True when it handed an action to the main application.
    bool startupExecutionCheck();
    // True (and the session's start recorded) when this is a new session.
    bool checkNewSession();
    // The time of the newest restart record of `last`.
    std::optional<QDateTime> currentSessionStart() const;
    // The output of "/usr/bin/last"; nullopt when it fails.
    std::optional<QString> last() const;
    // True when the newest restart was not preceded by a shutdown.
    bool systemHardRestarted() const;
    // One warning per failing disk; returns when every warning is dismissed.
    void checkAndAlertSMARTStatus();
    // The information dictionaries of the failing whole disks, in disk order.
    QList<QVariantMap> failingDevices() const;
    // The dictionary of a property list that the disk utility printed; empty
    // when it printed none.
    QVariantMap diskUtilInfoByParsingInfoString(const QString& infoString) const;

    // Where the agent lives and what it runs on. The defaults are the real
    // ones; tests replace them.
    void setBusConnection(const QDBusConnection& connection);
    // The agent's own bundle (a real path); the main application's bundle is
    // three path components above it.
    void setBundlePath(const QString& bundlePath) { bundlePath_ = bundlePath; }
    QString bundlePath() const { return bundlePath_; }
    QString varnoBundlePath() const;
    // The launch agent property list (a machine path).
    QString launchAgentPath() const;
    void setScheduleCheckInterval(int milliseconds) { scheduleCheckInterval_ = milliseconds; }
    void setCountdownTickInterval(int milliseconds);
    void setClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }
    // What asking the application to terminate does (by default: ends the
    // event loop). The delegate does nothing more once it has asked.
    void setTerminateHandler(std::function<void()> handler) { terminate_ = std::move(handler); }
    bool isTerminating() const { return terminating_; }

  private:
    void terminate();
    QVariantMap domain() const;
    QVariantMap automaticExecution() const;
    QPixmap icon() const;
    // Sets one entry of the first schedule configuration named like `due` in
    // a fresh read of the domain and stores the domain back. Nothing is
    // written when the domain cannot be read or holds no such configuration.
    void updateScheduleConfiguration(const QVariant& due, const QString& key,
                                     const QVariant& value);

    QPointer<QTimer> scheduleCheckTimer_;
    std::optional<QVariantMap> waitingAction_;
    CountdownAlert* countdownAlert_ = nullptr;  // owned
    std::unique_ptr<QDBusAbstractInterface> varnoDelegate_;
    int workingAction_ = 0;

    QDBusConnection connection_;
    QObject* remoteObject_ = nullptr;  // what the bus calls; owned
    bool serving_ = false;
    QString bundlePath_;
    int scheduleCheckInterval_ = static_cast<int>(UPDATE_INTERVAL * 1000);
    int countdownTickInterval_ = 1000;
    std::function<QDateTime()> clock_;
    std::function<void()> terminate_;
    bool terminating_ = false;
};
