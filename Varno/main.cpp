// Varno: the headless main application. Builds requests, runs the executor,
// shows what it reports, and keeps queues of configurations.

#include <QCoreApplication>
#include <cstdio>

#include "commandline.h"
#include "signalpipe.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Varno"));
    varno::SignalPipe::instance();
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    varno::CommandLine commandLine(arguments, stdout, stderr);
    return commandLine.exec();
}
