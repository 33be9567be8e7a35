#pragma once
// The uninstaller's application delegate: once the application has finished
// launching it asks for confirmation and administrator rights, stops the main
// application and the agent, removes the user's files and the application
// bundle, runs the privileged uninstallTool and reports how that went.

#include <QString>
#include <cstdint>
#include <functional>

#include "auth/authorization.h"

class UninstallDelegate {
  public:
    // Where the delegate finds its bundle and how it quits. The application
    // uses its own bundle and ends its event loop; tests put in their own.
    struct Environment {
        QString bundlePath;
        std::function<void()> terminate;
    };

    UninstallDelegate();
    explicit UninstallDelegate(Environment environment);

    // The whole uninstallation.
    void applicationDidFinishLaunching();

    // Asks for the administrator right; the reference comes back whether or
    // not that worked (null only when none could be created).
    auth::AuthorizationRef authorize();

    // Stops the main application and the agent and removes the user's files
    // and the application bundle; each failure is logged and the next step runs.
    void doUnprivileged();

    // Runs uninstallTool as root and returns the result it reports, or the
    // launch's status when it could not be started, or kNoResultStatus.
    std::int32_t doPrivileged(const auth::Authorization* authorization);

    // The final alert, then quit.
    void finishedWithStatus(std::int32_t status);

    // Sends the core event with this ID to the system process; 0 or the error.
    std::int32_t sendAppleEventToSystemProcess(std::uint32_t eventID);

  private:
    Environment environment_;
};
