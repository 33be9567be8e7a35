#include "app/task.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "app/notificationcenter.h"
#include "host/root.h"

namespace app {
namespace {

// Why exec would refuse the file at once, or 0.
int executableError(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EACCES;
    if (::access(path.c_str(), X_OK) != 0) return errno;
    return 0;
}

}  // namespace

Task::Task() : alive_(std::make_shared<bool>(true)) {}

Task::~Task() {
    alive_.reset();
    if (process_ == nullptr) return;
    QObject::disconnect(process_, nullptr, nullptr, nullptr);
    if (running_) process_->kill();
    // The task may be released by an observer of its own termination, that
    // is from inside a signal of the process object: delete that later.
    if (QCoreApplication::instance() != nullptr)
        process_->deleteLater();
    else
        delete process_;
}

bool Task::launch(QString* error) {
    if (process_ != nullptr) {
        if (error) *error = QStringLiteral("task already launched");
        return false;
    }
    const std::string program = host::realPath(launchPath_.toStdString());
    process_ = new QProcess();
    process_->setProgram(QString::fromStdString(program));
    process_->setArguments(arguments_);
    process_->setInputChannelMode(QProcess::ForwardedInputChannel);
    process_->setProcessChannelMode(standardOutput_ ? QProcess::ForwardedErrorChannel
                                                    : QProcess::ForwardedChannels);
    if (standardOutput_) {
        QObject::connect(process_, &QProcess::readyReadStandardOutput, process_,
                         [this] { standardOutput_->append(process_->readAllStandardOutput()); });
    }
    QObject::connect(process_, &QProcess::finished, process_,
                     [this](int exitCode) { didFinish(exitCode); });
    // What can be checked without waiting for the child is checked here, so
    // that launching never waits on the child's exec.
    const int refused = executableError(program);
    if (refused != 0) {
        if (error)
            *error = QStringLiteral("cannot start %1: %2")
                         .arg(launchPath_, QString::fromLocal8Bit(strerror(refused)));
        return false;
    }
    // An exec that still fails (a bad interpreter line, ...) ends the task at
    // once, as a shell reports it, from the event loop.
    std::weak_ptr<bool> alive = alive_;
    QObject::connect(process_, &QProcess::errorOccurred, process_,
                     [this, alive](QProcess::ProcessError e) {
                         if (e != QProcess::FailedToStart) return;
                         QTimer::singleShot(0, [this, alive] {
                             if (alive.expired() || !running_) return;
                             running_ = false;
                             terminationStatus_ = 127;
                             NotificationCenter::defaultCenter().postNotificationName(
                                 kTaskDidTerminateNotification, this);
                         });
                     });
    running_ = true;
    process_->start();
    return true;
}

void Task::didFinish(int exitCode) {
    if (standardOutput_) standardOutput_->append(process_->readAllStandardOutput());
    running_ = false;
    // After a signal QProcess gives the signal's number as the exit code.
    terminationStatus_ = exitCode;
    // Last: an observer may release this task.
    NotificationCenter::defaultCenter().postNotificationName(kTaskDidTerminateNotification, this);
}

}  // namespace app
