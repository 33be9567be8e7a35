// VarnoAgent: the per-user background application that counts down due
// scheduled queues and hands them to the main application.

#include <QApplication>
#include <QTimer>

#include "AgentDebug.h"
#include "VarnoAgentDelegate.h"

int main(int argc, char** argv) {
    if (debugFlagForArguments(argc, argv)) KVXDEBUG = true;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VarnoAgent"));
    // The countdown window closes and opens again; only the delegate ends the agent.
    QApplication::setQuitOnLastWindowClosed(false);
    VarnoAgentDelegate delegate;
    // Once the event loop runs, as the platform's did-finish-launching does.
    QTimer::singleShot(0, &delegate, &VarnoAgentDelegate::applicationDidFinishLaunching);
    return QApplication::exec();
}
