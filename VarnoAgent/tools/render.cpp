// varno-agent-render FOLDER: draws the agent's countdown window and its
// postpone and disable dialogs, as the agent sets them up, into PNG files in
// the folder, so that a person can look at them without a desktop.

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QTimeZone>
#include <cstdio>
#include <cstdlib>

#include "AgentAlerts.h"
#include "CountdownAlert.h"

namespace {

bool save(QWidget* window, const QString& path) {
    window->adjustSize();
    window->show();
    QApplication::processEvents();
    const bool ok = window->grab().save(path);
    window->hide();
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const QPixmap icon(QStringLiteral(VARNO_AGENT_ICON));
    const QString queue = QStringLiteral("Weekly Maintenance");
    const QDateTime preset =
        QDateTime(QDate(2026, 3, 14), QTime(9, 30), QTimeZone::utc()).addDays(7);

    bool ok = true;
    CountdownAlert countdown;
    configureScheduledQueueCountdown(countdown, queue, icon);
    ok = save(countdown.window(), folder + QStringLiteral("/countdown-alert.png")) && ok;
    auto postpone = makePostponeAlert(queue, preset, icon);
    ok = save(postpone->window(), folder + QStringLiteral("/postpone-dialog.png")) && ok;
    auto disable = makeDisableAlert(queue, icon);
    ok = save(disable->window(), folder + QStringLiteral("/disable-dialog.png")) && ok;
    return ok ? 0 : 1;
}
