// Stands in for the main application on the session bus.
//   varno_agent_fake_peer fetch   looks up the agent, prints its working action
//                                 and waiting action, and acknowledges it
//   varno_agent_fake_peer serve   holds "com.kvxlabs.Varno2" until its
//                                 standard input ends
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QSocketNotifier>
#include <cstdio>
#include <cstring>

#include "agentinterface.h"

namespace {

int fetch(QDBusConnection bus) {
    ComKvxlabsVarno2AgentInterface agent(QStringLiteral("com.kvxlabs.Varno2.agent"),
                                         QStringLiteral("/"), bus);
    QDBusPendingReply<int> working = agent.workingAction();
    QDBusPendingReply<QString> waiting = agent.waitingAction();
    working.waitForFinished();
    waiting.waitForFinished();
    if (working.isError() || waiting.isError()) {
        std::fprintf(
            stderr, "fake peer: %s\n",
            qPrintable(working.isError() ? working.error().message() : waiting.error().message()));
        return 1;
    }
    QDBusPendingReply<> received = agent.waitingActionReceived();
    received.waitForFinished();
    if (received.isError()) return 1;
    std::printf("workingAction=%d\n%s", working.value(), waiting.value().toUtf8().constData());
    return 0;
}

int serve(QCoreApplication& application, QDBusConnection bus) {
    QObject root;
    if (!bus.registerObject(QStringLiteral("/"), &root) ||
        !bus.registerService(QStringLiteral("com.kvxlabs.Varno2"))) {
        std::fprintf(stderr, "fake peer: cannot serve\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &application, [&] {
        char c;
        if (read(STDIN_FILENO, &c, 1) <= 0) application.quit();
    });
    return application.exec();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (argc == 2 && std::strcmp(argv[1], "fetch") == 0) return fetch(bus);
    if (argc == 2 && std::strcmp(argv[1], "serve") == 0) return serve(application, bus);
    std::fprintf(stderr, "usage: %s fetch|serve\n", argv[0]);
    return 2;
}
