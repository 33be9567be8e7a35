#pragma once
// Varno's commands: run, queue, schedule, install, authorize, status (also
// of the disks), operations. Parses the arguments, does the work and returns
// the exit status; usage errors end with 64 and a usage line on standard
// error.
// Without a command (as the agent starts it, with or without "-DEBUG"),
// Varno fetches and performs the agent's waiting action.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>

#include "runoutcome.h"
#include "storeerror.h"

namespace varno {

enum class AdvanceResult;
struct QueueOptions;
struct ScheduleOptions;

class CommandLine {
  public:
    // arguments: without the program's name.
    CommandLine(const QStringList& arguments, std::FILE* out, std::FILE* err);
    int exec();

    static constexpr const char* kUsage =
        "usage: Varno [--root DIR] [-DEBUG] [COMMAND [ARGUMENTS]]";
    static constexpr int kExitUsage = 64;
    static constexpr int kExitUnavailable = 69;
    static constexpr int kExitSoftware = 70;
    static constexpr int kExitIOError = 74;
    static constexpr int kExitProtocol = 76;
    static constexpr int kExitNoPermission = 77;
    // A queue in which at least one configuration failed.
    static constexpr int kExitQueueFailed = 1;

  private:
    int runCommand(const QStringList& args);
    int queueCommand(const QStringList& args);
    int queueList();
    int queueShow(const QString& name);
    int queueAdd(const QueueOptions& options);
    int queueRemove(const QueueOptions& options);
    // Runs the named queue of the current user: 0 when every configuration
    // succeeded, 1 when one failed.
    int runQueue(const QString& name, bool plist);
    int scheduleCommand(const QStringList& args);
    int scheduleList(const QDateTime& now);
    int scheduleAdd(const ScheduleOptions& options);
    // enable, disable, remove
    int scheduleChange(const ScheduleOptions& options);
    int installCommand(const QStringList& args);
    // What the executor's repair left: 0 when it is set-user-ID root, or
    // when root ran it (which needs no bit).
    int reportRepair(const QString& executor, bool wasSetuidRoot);
    int authorizeCommand(const QStringList& args);
    int statusCommand(const QStringList& args);
    // "status --disks": the disks and volumes of the disk information cache.
    int disksCommand(const QStringList& args);
    // Waits up to `seconds` for the cache's descriptions, then lists them.
    int showDisks(double seconds);
    int operationsCommand(const QStringList& args);

    // The agent's peer: fetches the waiting action, acknowledges it, performs
    // it and has the agent check its schedule again.
    int agentPeer();
    int performWaitingAction(const QVariantMap& action);
    // Runs a schedule configuration's queue and moves its next date on.
    int runScheduledQueue(const QVariant& configuration);
    // Tells where the schedule stands after its run; the run's status, or
    // the launch agent's failure when the schedule was disabled.
    int reportAdvance(const QString& name, AdvanceResult advanced, int status);
    // Runs the queue a waiting action names, as "queue run" does.
    int runQueueNamed(const QString& name);
    // Brings the agent's start at login in line with the preferences.
    int updateLaunchAgent();
    void debugLine(const QString& text);

    // Runs the requests one after another on one authorization; fills
    // *outcomes. Returns 0 or the exit status of a failure to start at all.
    int runRequests(const QList<QVariantMap>& requests, bool plist, QList<RunOutcome>* outcomes);
    int usageError(const char* usage, const QString& message);
    int unknownOperation(const char* usage, const QString& name);
    // Tells the store's error; 64 for a name or number that does not fit,
    // 74 for a domain that cannot be read or written.
    int storeFailure(const StoreError& error);
    void print(const QString& text);
    void printError(const QString& text);

    QStringList arguments_;
    bool agentDebug_ = false;  // "-DEBUG": the agent's peer tells each step
    std::FILE* out_;
    std::FILE* err_;
};

}  // namespace varno
