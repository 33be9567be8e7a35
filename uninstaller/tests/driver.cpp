// uninstaller-driver [ANSWER...]: runs the whole uninstallation from its own
// bundle as the application does, for tests that run it as another user.
// Alerts are answered with the codes given, in order (default button after
// that); every alert and log line is printed, then "terminated N".

#include <cstdio>
#include <cstdlib>

#include "UninstallDelegate.h"
#include "app/application.h"
#include "app/testing.h"

int main(int argc, char** argv) {
    app::testing::ensureApplication();
    app::testing::AlertScript alerts;
    for (int i = 1; i < argc; ++i) alerts.answer(std::atoi(argv[i]));
    app::setLogHandler(
        [](const QString& line) { std::printf("log: %s\n", line.toUtf8().constData()); });
    int terminations = 0;
    UninstallDelegate delegate({app::mainBundlePath(), [&terminations] { ++terminations; }});
    delegate.applicationDidFinishLaunching();
    for (const app::testing::ShownAlert& shown : alerts.shown())
        std::printf("alert: %s\n", shown.messageText.toUtf8().constData());
    std::printf("terminated %d\n", terminations);
    return 0;
}
