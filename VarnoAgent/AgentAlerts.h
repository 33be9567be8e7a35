#pragma once
// The windows the agent shows, with their texts; the agent and the picture
// tool build them the same way.

#include <QDateTime>
#include <QPixmap>
#include <QVariant>
#include <memory>

#include "app/alert.h"

class CountdownAlert;
class QDateTimeEdit;

// Sets up the countdown before a scheduled queue (queueName: a string, or
// invalid for none).
void configureScheduledQueueCountdown(CountdownAlert& alert, const QVariant& queueName,
                                      const QPixmap& icon);

// "Postpone Execution" with a date picker holding the preset date.
std::unique_ptr<app::Alert> makePostponeAlert(const QVariant& queueName, const QDateTime& preset,
                                              const QPixmap& icon);
// The picker of a postpone alert.
QDateTimeEdit* postponeDatePicker(const app::Alert& alert);

std::unique_ptr<app::Alert> makeDisableAlert(const QVariant& queueName, const QPixmap& icon);

// Shown when a second copy of the agent finds its server name taken.
std::unique_ptr<app::Alert> makeRegistrationFailedAlert();

std::unique_ptr<app::Alert> makeLaunchFailedAlert(const QPixmap& icon);

// Warns of a disk whose S.M.A.R.T. status says it may fail.
std::unique_ptr<app::Alert> makeHardDriveFailingAlert(const QVariant& mediaName,
                                                      const QVariant& deviceIdentifier,
                                                      const QPixmap& icon);
