#pragma once
// SIGINT and SIGTERM enter the event loop through a self-pipe: the handler
// only writes the signal's number; Varno then stops the executor and the
// queue, and still reports what was done.

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace varno {

class SignalPipe : public QObject {
    Q_OBJECT
  public:
    // Installs the handlers once; later calls return the same object.
    static SignalPipe* instance();
    // The first signal received so far, or 0.
    int received() const;

  Q_SIGNALS:
    void signalReceived(int signal);

  private:
    SignalPipe();
    void readPipe();

    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace varno
