#pragma once
// Varno's commands: run, queue, install, authorize, status, operations.
// Parses the arguments, does the work and returns the exit status; usage
// errors end with 64 and a usage line on standard error.

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>

#include "runoutcome.h"

namespace varno {

class CommandLine {
  public:
    // arguments: without the program's name.
    CommandLine(const QStringList& arguments, std::FILE* out, std::FILE* err);
    int exec();

    static constexpr int kExitUsage = 64;
    static constexpr int kExitUnavailable = 69;
    static constexpr int kExitSoftware = 70;
    static constexpr int kExitIOError = 74;
    static constexpr int kExitNoPermission = 77;
    // A queue in which at least one configuration failed.
    static constexpr int kExitQueueFailed = 1;

  private:
    int runCommand(const QStringList& args);
    int queueCommand(const QStringList& args);
    int installCommand(const QStringList& args);
    int authorizeCommand(const QStringList& args);
    int statusCommand(const QStringList& args);
    int operationsCommand(const QStringList& args);

    // Runs the requests one after another on one authorization; fills
    // *outcomes. Returns 0 or the exit status of a failure to start at all.
    int runRequests(const QList<QVariantMap>& requests, bool plist, QList<RunOutcome>* outcomes);
    int usageError(const char* usage, const QString& message);
    int unknownOperation(const char* usage, const QString& name);
    void print(const QString& text);
    void printError(const QString& text);

    QStringList arguments_;
    std::FILE* out_;
    std::FILE* err_;
};

}  // namespace varno
