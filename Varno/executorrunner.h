#pragma once
// Runs the executor for one request: starts it with no arguments, writes the
// authorization's external form, the request's length (8 bytes, native
// order) and the request, and reads its record stream until it ends.

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include "runoutcome.h"

namespace varno {

// Told about a run as it happens (the console view); all calls come from the
// thread that runs the executor.
class RunObserver {
  public:
    virtual ~RunObserver() = default;
    virtual void operationStarted(const QString& identifier, double expectedIncrements) = 0;
    virtual void text(QByteArrayView bytes) = 0;
    virtual void progress(double position, double total) = 0;
    // A parsed document: a result record, or a property list a system tool
    // printed in the executor's place.
    virtual void record(const QVariant& document, QByteArrayView raw) = 0;
    virtual void truncatedRecord(QByteArrayView raw) = 0;
    // A result record that could not be taken, or never came: why.
    virtual void lostRecord(const QString& problem) = 0;
    // What the executor wrote to its standard error.
    virtual void diagnostic(QByteArrayView bytes) = 0;
    // Called a few times a second while the executor runs.
    virtual void tick() {}
    virtual void operationFinished(const RunOutcome& outcome) = 0;
};

class ExecutorRunner : public QObject {
    Q_OBJECT
  public:
    ExecutorRunner(const QString& executorPath, const QByteArray& authorizationForm,
                   RunObserver* observer, QObject* parent = nullptr);

    // Blocks (running a local event loop) until the executor has ended and
    // its stream has been read to the end.
    RunOutcome run(const QVariantMap& request);

    // The executor beside this program, as the bundle places it.
    static QString defaultExecutorPath();

  private:
    QString executorPath_;
    QByteArray form_;
    RunObserver* observer_;
};

}  // namespace varno
