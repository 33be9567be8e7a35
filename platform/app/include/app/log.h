#pragma once
// The system log: one line per call, to syslog and to standard error with a
// time stamp and the process name, like the platform's NSLog.

#include <QString>
#include <QVariantList>
#include <functional>

namespace app {

void NSLog(const QString& message);
// The message is the format expanded with the arguments (app::format).
void NSLogv(const QString& format, const QVariantList& arguments);

// Where log lines go instead of syslog and standard error, for tests. Returns
// the handler it replaces; an empty handler restores the real log.
using LogHandler = std::function<void(const QString& message)>;
LogHandler setLogHandler(LogHandler handler);

}  // namespace app
