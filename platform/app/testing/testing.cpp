#include "app/testing.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace app::testing {

// The mount table's switch (mounttable.cpp).
extern bool sandboxLeavesOutFixedMounts;

namespace {

struct Bus {
    pid_t pid = -1;
    std::string folder;
    std::string address;
    ~Bus() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        std::error_code ec;
        if (!folder.empty()) std::filesystem::remove_all(folder, ec);
    }
};

std::string startBus(Bus& bus) {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/varno-bus-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr)
        throw std::runtime_error(std::string("cannot create the bus folder: ") + strerror(errno));
    bus.folder = templ;
    const std::string listen = "--address=unix:path=" + bus.folder + "/bus";
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("cannot create a pipe");
    const std::string printAddress = "--print-address=" + std::to_string(3);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("cannot fork");
    if (pid == 0) {
        // The daemon ends with the test program, however that ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (fds[1] == 3 ? fcntl(3, F_SETFD, 0) != 0 : dup2(fds[1], 3) < 0) _exit(127);
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", listen.c_str(),
               printAddress.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    bus.pid = pid;
    close(fds[1]);
    std::string address;
    char c;
    for (;;) {
        ssize_t n = read(fds[0], &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') break;
        address += c;
    }
    close(fds[0]);
    if (address.empty()) throw std::runtime_error("dbus-daemon did not start");
    return address;
}

}  // namespace

void ensureApplication() {
    if (QCoreApplication::instance() != nullptr) return;
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Without one, Qt makes a runtime folder of its own in the machine's /tmp.
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
        static Bus runtime;  // only its folder is used, removed at the end
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/varno-xdg-XXXXXX";
        if (mkdtemp(templ.data()) != nullptr) {
            runtime.folder = templ;
            setenv("XDG_RUNTIME_DIR", templ.c_str(), 1);
        }
    }
    static int argc = 1;
    static char name[] = "varno-test";
    static char* argv[] = {name, nullptr};
    // Lives as long as the program; tests share it.
    auto* application = new QApplication(argc, argv);
    application->setQuitOnLastWindowClosed(false);
}

std::string usePrivateSessionBus() {
    static Bus bus;
    static const std::string address = startBus(bus);
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    return address;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        usleep(1000);
    }
    return true;
}

void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

AlertScript::AlertScript() {
    previous_ = Alert::setResponder([this](Alert& alert) {
        shown_.push_back({alert.messageText(), alert.informativeText(), alert.windowTitle(),
                          alert.buttonTitles(), !alert.icon().isNull(),
                          alert.accessoryView() != nullptr});
        if (answers_.empty()) return Alert::kDefaultReturn;
        Answer next = std::move(answers_.front());
        answers_.erase(answers_.begin());
        return next(alert);
    });
}

AlertScript::~AlertScript() {
    Alert::setResponder(std::move(previous_));
}

void AlertScript::answer(int code) {
    answers_.push_back([code](Alert&) { return code; });
}

void AlertScript::answer(Answer a) {
    answers_.push_back(std::move(a));
}

LogCapture::LogCapture() {
    previous_ = setLogHandler([this](const QString& line) { lines_ << line; });
}

LogCapture::~LogCapture() {
    setLogHandler(std::move(previous_));
}

int LogCapture::countEndingWith(const QString& text) const {
    int n = 0;
    for (const QString& line : lines_)
        if (line.endsWith(text)) ++n;
    return n;
}

NoFixedMounts::NoFixedMounts() : previous_(sandboxLeavesOutFixedMounts) {
    sandboxLeavesOutFixedMounts = true;
}

NoFixedMounts::~NoFixedMounts() {
    sandboxLeavesOutFixedMounts = previous_;
}

}  // namespace app::testing
