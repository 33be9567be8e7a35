#include "AgentAlerts.h"

#include <QDateTimeEdit>
#include <QPushButton>

#include "AgentConstants.h"
#include "CountdownAlert.h"
#include "app/format.h"

namespace {

const QString kVarnoTitle = QStringLiteral("Varno");

}  // namespace

void configureScheduledQueueCountdown(CountdownAlert& alert, const QVariant& queueName,
                                      const QPixmap& icon) {
    alert.setCountdownTime(kScheduledQueueCountdownTime);
    alert.setTitle(kVarnoTitle);
    alert.setText(QStringLiteral("Scheduled Queue"));
    // The name is escaped: it is text, and the result is itself a format
    // whose only conversion is the seconds' "%d".
    alert.setInformativeTextFormat(
        app::format(QStringLiteral("The queue \"%@\" will begin scheduled execution in %%d "
                                   "seconds..."),
                    {app::escapedForFormat(app::description(queueName))}));
    alert.firstButton()->setText(QStringLiteral("Start Now"));
    alert.secondButton()->setText(QStringLiteral("Postpone"));
    alert.thirdButton()->setText(QStringLiteral("Disable"));
    alert.setIcon(icon);
}

std::unique_ptr<app::Alert> makePostponeAlert(const QVariant& queueName, const QDateTime& preset,
                                              const QPixmap& icon) {
    auto alert = app::Alert::alertWithMessageText(
        QStringLiteral("Postpone Execution"), QStringLiteral("OK"), QStringLiteral("Cancel"),
        QString(),
        app::format(QStringLiteral("Select a new execution date for the queue \"%@\":"),
                    {queueName}));
    alert->setIcon(icon);
    alert->setWindowTitle(kVarnoTitle);
    auto* picker = new QDateTimeEdit;
    picker->setObjectName(QStringLiteral("postponeDatePicker"));
    picker->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    picker->setCalendarPopup(true);
    picker->setAutoFillBackground(true);
    picker->setMinimumSize(185, 27);
    picker->resize(185, 27);
    picker->setDateTime(preset.toLocalTime());
    alert->setAccessoryView(picker);
    return alert;
}

QDateTimeEdit* postponeDatePicker(const app::Alert& alert) {
    return qobject_cast<QDateTimeEdit*>(alert.accessoryView());
}

std::unique_ptr<app::Alert> makeDisableAlert(const QVariant& queueName, const QPixmap& icon) {
    auto alert = app::Alert::alertWithMessageText(
        QStringLiteral("Disable Scheduled Queue"), QStringLiteral("Yes"), QStringLiteral("Cancel"),
        QString(),
        app::format(QStringLiteral("Are you sure you want to disable the scheduled queue \"%@\"?"),
                    {queueName}));
    alert->setIcon(icon);
    alert->setWindowTitle(kVarnoTitle);
    return alert;
}

std::unique_ptr<app::Alert> makeRegistrationFailedAlert() {
    return app::Alert::alertWithMessageText(
        app::format(QStringLiteral("Could not register %@"), {KVXVarnoAgentIdentifier}),
        QStringLiteral("Quit"), QString(), QString(),
        QStringLiteral("Multiple copies of VarnoAgent appear to be running. Please contact ") +
            KVXSupportAddress + QStringLiteral(" for help."));
}

std::unique_ptr<app::Alert> makeLaunchFailedAlert(const QPixmap& icon) {
    auto alert = app::Alert::alertWithMessageText(
        QStringLiteral("Error Launching Varno"), QStringLiteral("OK"), QString(), QString(),
        QStringLiteral("VarnoAgent encountered an error while trying to launch Varno. Please "
                       "report this to ") +
            KVXSupportAddress);
    alert->setIcon(icon);
    return alert;
}

std::unique_ptr<app::Alert> makeHardDriveFailingAlert(const QVariant& mediaName,
                                                      const QVariant& deviceIdentifier,
                                                      const QPixmap& icon) {
    auto alert = app::Alert::alertWithMessageText(
        QStringLiteral("Hard drive failing!"), QStringLiteral("OK"), QString(), QString(),
        app::format(QStringLiteral("The S.M.A.R.T. status of the device \"%@\" (%@) indicates "
                                   "that it may be failing! It is recommended that you backup "
                                   "and replace the device as soon as possible!"),
                    {mediaName, deviceIdentifier}));
    alert->setIcon(icon);
    alert->setWindowTitle(kVarnoTitle);
    return alert;
}
