// VarnoUninstaller: removes the suite for the current user.

#include <QApplication>
#include <QTimer>

#include "UninstallDelegate.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VarnoUninstaller"));
    // After "Cancel" in the restart alert the uninstaller stays open with no
    // window until the user quits it.
    QApplication::setQuitOnLastWindowClosed(false);
    UninstallDelegate delegate;
    // Once the event loop runs, as the platform's did-finish-launching does.
    QTimer::singleShot(0, &application, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return QApplication::exec();
}
