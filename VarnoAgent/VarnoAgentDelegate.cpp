// The agent's life: start-up, its server, its launch agent, and the link to
// the main application.
#include "VarnoAgentDelegate.h"

#include <QDBusAbstractInterface>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "AgentAlerts.h"
#include "AgentDebug.h"
#include "AgentRemoteObject.h"
#include "CountdownAlert.h"
#include "app/application.h"
#include "app/connection.h"
#include "app/log.h"
#include "app/propertylistfile.h"
#include "app/userdefaults.h"
#include "host/root.h"
#include "schedule/launchagent.h"
#include "schedule/model.h"

VarnoAgentDelegate::VarnoAgentDelegate(QObject* parent)
    : QObject(parent),
      connection_(QDBusConnection::sessionBus()),
      bundlePath_(app::mainBundlePath()),
      clock_([] { return QDateTime::currentDateTimeUtc(); }),
      terminate_([] { app::terminate(); }) {}

VarnoAgentDelegate::~VarnoAgentDelegate() {
    if (serving_) app::unregisterServer(connection_, KVXVarnoAgentIdentifier);
    delete scheduleCheckTimer_;
    delete countdownAlert_;
}

void VarnoAgentDelegate::setScheduleCheckTimer(QTimer* timer) {
    if (scheduleCheckTimer_ == timer) return;
    if (scheduleCheckTimer_) scheduleCheckTimer_->deleteLater();
    scheduleCheckTimer_ = timer;
    if (timer != nullptr) timer->setParent(this);
}

CountdownAlert* VarnoAgentDelegate::countdownAlert() {
    if (countdownAlert_ == nullptr) {
        countdownAlert_ = new CountdownAlert;
        countdownAlert_->setDelegate(this);
        countdownAlert_->setTickInterval(countdownTickInterval_);
    }
    return countdownAlert_;
}

void VarnoAgentDelegate::setCountdownTickInterval(int milliseconds) {
    countdownTickInterval_ = milliseconds;
    if (countdownAlert_ != nullptr) countdownAlert_->setTickInterval(milliseconds);
}

void VarnoAgentDelegate::setBusConnection(const QDBusConnection& connection) {
    connection_ = connection;
}

QString VarnoAgentDelegate::varnoBundlePath() const {
    QString path = QDir::cleanPath(bundlePath_);
    for (int i = 0; i < 3; ++i) path = QFileInfo(path).path();
    return path;
}

QString VarnoAgentDelegate::launchAgentPath() const {
    return schedule::launchAgentPath();
}

QPixmap VarnoAgentDelegate::icon() const {
    return app::imageNamed(QString::fromLatin1(kAgentIconName), bundlePath_);
}

void VarnoAgentDelegate::terminate() {
    terminating_ = true;
    if (scheduleCheckTimer_) scheduleCheckTimer_->stop();
    if (terminate_) terminate_();
}

QVariantMap VarnoAgentDelegate::domain() const {
    return app::persistentDomainForName(KVXVarno2Identifier).dictionary;
}

QVariantMap VarnoAgentDelegate::automaticExecution() const {
    return schedule::dictionary(domain().value(KVXAutomaticExecutionTask)).value_or(QVariantMap());
}

bool VarnoAgentDelegate::hardRestartCheckingEnabled() const {
    return schedule::booleanValue(
        automaticExecution().value(KVXEnableHardRestartQueueAutomaticExecutionConfigurationKey));
}

bool VarnoAgentDelegate::smartCheckingEnabled() const {
    return schedule::booleanValue(
        automaticExecution().value(KVXEnableMonitorSMARTStatusAutomaticExecutionConfigurationKey));
}

void VarnoAgentDelegate::applicationDidFinishLaunching() {
    app::NSLog(QStringLiteral("Hello from VarnoAgent!"));
    registerServer();
    if (terminating_) return;
    // A startup prompt leaves the rest of the session to the main application.
    if (checkNewSession() && startupExecutionCheck()) return;
    startScheduleCheckTimer();
}

void VarnoAgentDelegate::registerServer() {
    if (remoteObject_ == nullptr) remoteObject_ = new AgentRemoteObject(this);
    QString error;
    if (app::registerServer(connection_, KVXVarnoAgentIdentifier, remoteObject_, &error)) {
        serving_ = true;
        DLog("VarnoAgent server registered.");
        return;
    }
    // The alert speaks of the usual cause; the log keeps the real one.
    app::NSLog(error);
    app::beep();
    makeRegistrationFailedAlert()->runModal();
    terminate();
}

void VarnoAgentDelegate::reconfigureLaunchAgent() {
    if (!enabledScheduleConfigurations().isEmpty()) return;
    // Preferences that cannot be read say nothing about the schedule; turning
    // the agent off on their word would outlast the fault.
    if (app::persistentDomainForName(KVXVarno2Identifier).state == app::FileState::Unreadable)
        return;
    DLog("reconfigureLaunchAgent");
    const bool startupChecks = hardRestartCheckingEnabled() || smartCheckingEnabled();
    const QString program =
        QString::fromStdString(host::machinePath(QDir::cleanPath(bundlePath_).toStdString())) +
        QStringLiteral("/Contents/MacOS/VarnoAgent");
    const QVariantMap config = schedule::launchAgentDictionary(program, !startupChecks);
    DLog("Saving launch agent config: %@", config);
    // The rename of the atomic write replaces the old file; it is not
    // removed first, so a failed write leaves the old one in place.
    const QString path = app::realPathForMachinePath(launchAgentPath());
    QDir().mkpath(QFileInfo(path).path());
    QString error;
    if (!app::writeDictionaryFile(path, config, &error)) DLog("%@", error);
#if defined(__linux__)
    // The desktop starts the agent through its autostart entry whatever the
    // launch agent says: with nothing left to do at login, it goes too.
    if (!startupChecks) removeAutostartEntry();
#endif
    unloadAgent();
}

void VarnoAgentDelegate::removeAutostartEntry() {
    if (int error = schedule::removeAutostartEntry(); error != 0 && error != ENOENT)
        DLog("cannot remove %@: %@", schedule::autostartPath(),
             QString::fromLocal8Bit(strerror(error)));
}

void VarnoAgentDelegate::unloadAgent() {
    app::launchTask(QStringLiteral("/bin/launchctl"),
                    {QStringLiteral("unload"), launchAgentPath()});
}

void VarnoAgentDelegate::launchVarno() {
    const QStringList arguments = KVXDEBUG ? QStringList{QStringLiteral("-DEBUG")} : QStringList{};
    if (app::launchApplication(varnoBundlePath(), arguments)) return;
    auto alert = makeLaunchFailedAlert(icon());
    app::activateIgnoringOtherApps();
    app::beep();
    alert->runModal();
}

bool VarnoAgentDelegate::connectToVarno() {
    varnoDelegate_ = app::rootProxyForConnection(connection_, KVXVarno2Identifier);
    if (varnoDelegate_ != nullptr) {
        didConnectToVarno();
        return true;
    }
    DLog("Connect to %@ failed.", KVXVarno2Identifier);
    return false;
}

void VarnoAgentDelegate::didConnectToVarno() {}
