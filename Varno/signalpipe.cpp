#include "signalpipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace varno {

namespace {

int pipeFds[2] = {-1, -1};
volatile sig_atomic_t firstSignal = 0;

void onSignal(int signal) {
    if (firstSignal == 0) firstSignal = signal;
    const unsigned char byte = static_cast<unsigned char>(signal);
    const int saved = errno;
    (void)!write(pipeFds[1], &byte, 1);
    errno = saved;
}

}  // namespace

SignalPipe* SignalPipe::instance() {
    static SignalPipe* pipe = new SignalPipe;
    return pipe;
}

SignalPipe::SignalPipe() {
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;  // signals keep their default
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A handler, unlike an ignored signal, does not pass on to the executor.
    if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalPipe::readPipe);
}

int SignalPipe::received() const {
    return firstSignal;
}

void SignalPipe::readPipe() {
    unsigned char byte = 0;
    while (read(pipeFds[0], &byte, 1) == 1) Q_EMIT signalReceived(byte);
}

}  // namespace varno
