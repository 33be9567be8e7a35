#pragma once
// Test support for the Qt application tier: one offscreen application per
// test program, a private D-Bus session bus, scripted answers to alerts, a
// capture of log lines, and waiting on the event loop.

#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

#include "app/alert.h"
#include "app/log.h"

namespace app::testing {

// Creates the QApplication (offscreen platform) once; later calls do nothing.
void ensureApplication();

// Starts a D-Bus daemon of this test program's own, once, and points
// DBUS_SESSION_BUS_ADDRESS at it, so that the session bus of this process
// and of every child it starts is private to the program. Call it before
// anything touches the session bus. Returns the bus address.
std::string usePrivateSessionBus();

// Runs the event loop until the condition holds or the time is up; returns
// the condition's last value.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
// Runs the event loop for the given time.
void spin(int ms);

// What an alert showed.
struct ShownAlert {
    QString messageText;
    QString informativeText;
    QString windowTitle;
    QStringList buttons;
    bool hasIcon = false;
    bool hasAccessory = false;
};

// While it lives, alerts are not shown: each is recorded and answered by the
// next scripted answer, or with the default button when none is left.
class AlertScript {
  public:
    using Answer = std::function<int(Alert& alert)>;
    AlertScript();
    ~AlertScript();
    AlertScript(const AlertScript&) = delete;
    AlertScript& operator=(const AlertScript&) = delete;

    void answer(int code);
    void answer(Answer answer);
    const std::vector<ShownAlert>& shown() const { return shown_; }

  private:
    std::vector<Answer> answers_;
    std::vector<ShownAlert> shown_;
    Alert::Responder previous_;
};

// While it lives, log lines are collected instead of written.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    const QStringList& lines() const { return lines_; }
    // Lines that end with the text.
    int countEndingWith(const QString& text) const;

  private:
    QStringList lines_;
    LogHandler previous_;
};

// While it lives, the sandbox's mount table (getmntinfo, statfs) leaves out
// its fixed mounts, the startup volume on "/" among them: a machine with no
// volumes but those the test writes to the table.
class NoFixedMounts {
  public:
    NoFixedMounts();
    ~NoFixedMounts();
    NoFixedMounts(const NoFixedMounts&) = delete;
    NoFixedMounts& operator=(const NoFixedMounts&) = delete;

  private:
    bool previous_;
};

}  // namespace app::testing
