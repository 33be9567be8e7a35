#pragma once
// A child process run from the event loop, like the platform's NSTask: set the
// launch path (a machine path, found under the system root), the arguments
// and, if wanted, a pipe for its standard output; launch returns at once.
// Standard input and standard error are the application's own.
//
// While the child runs, its output is read into the pipe from the event loop,
// so a child never stays blocked on a full pipe. When it has ended and all of
// its output is in, kTaskDidTerminateNotification is posted on the default
// notification center with the task as the object; every observer of the
// process sees it and recognises its own task by identity.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

class QProcess;

namespace app {

inline const QString kTaskDidTerminateNotification =
    QStringLiteral("NSTaskDidTerminateNotification");

// The reading end of a pipe: everything the child wrote so far.
class Pipe {
  public:
    // Complete once the task's termination has been posted.
    QByteArray readDataToEndOfFile() const { return data_; }
    void append(const QByteArray& bytes) { data_ += bytes; }

  private:
    QByteArray data_;
};

class Task {
  public:
    Task();
    // A task still running is killed: nothing would be left to hear of it.
    ~Task();
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;

    void setLaunchPath(const QString& machinePath) { launchPath_ = machinePath; }
    QString launchPath() const { return launchPath_; }
    void setArguments(const QStringList& arguments) { arguments_ = arguments; }
    QStringList arguments() const { return arguments_; }
    void setStandardOutput(std::shared_ptr<Pipe> pipe) { standardOutput_ = std::move(pipe); }
    std::shared_ptr<Pipe> standardOutput() const { return standardOutput_; }

    // False, with *error filled, when the child cannot be started (no such
    // file, not executable, launched before); no termination is posted then.
    // Launching does not wait for the child: one whose program the system
    // still refuses to execute ends from the event loop with status 127.
    bool launch(QString* error = nullptr);

    bool isRunning() const { return running_; }
    // The exit status, or the signal's number when a signal ended it; -1
    // before the end.
    int terminationStatus() const { return terminationStatus_; }

  private:
    void didFinish(int exitCode);

    QString launchPath_;
    QStringList arguments_;
    std::shared_ptr<Pipe> standardOutput_;
    QProcess* process_ = nullptr;
    bool running_ = false;
    int terminationStatus_ = -1;
    std::shared_ptr<bool> alive_;  // expires with the task, for deferred calls
};

}  // namespace app
