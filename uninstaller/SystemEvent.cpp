#include "SystemEvent.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <cerrno>

#include "host/root.h"

namespace uninstall {
namespace {

constexpr const char* kLoginService = "org.freedesktop.login1";
constexpr const char* kLoginPath = "/org/freedesktop/login1";
constexpr const char* kLoginManager = "org.freedesktop.login1.Manager";

QString loginManagerMethod(std::uint32_t eventID) {
    if (eventID == kAERestart) return QStringLiteral("Reboot");
    if (eventID == kAEShutDown) return QStringLiteral("PowerOff");
    if (eventID == kAESleep) return QStringLiteral("Suspend");
    return {};
}

std::int32_t recordInSandbox(std::uint32_t eventID) {
    const std::string path = host::realPath(kSystemEventsLogPath);
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return ioErr;
    // The system process's serial number: high part 0, low part 1.
    const QByteArray line = "aevt\t" + fourCharString(eventID).toLatin1() + "\tpsn 0 1\n";
    ssize_t n;
    do {
        n = write(fd, line.constData(), static_cast<size_t>(line.size()));
    } while (n < 0 && errno == EINTR);
    const bool written = n == line.size();
    if (close(fd) != 0 || !written) return ioErr;
    return 0;
}

}  // namespace

QString fourCharString(std::uint32_t code) {
    QString s;
    for (int shift = 24; shift >= 0; shift -= 8)
        s += QChar::fromLatin1(char((code >> shift) & 0xff));
    return s;
}

std::int32_t sendCoreEventToLoginManager(QDBusConnection bus, std::uint32_t eventID,
                                         QString* detail) {
    const QString method = loginManagerMethod(eventID);
    if (method.isEmpty()) return errAEEventNotHandled;
    if (!bus.isConnected()) {
        if (detail) *detail = bus.lastError().message();
        return connectionInvalid;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kLoginService),
                                                       QString::fromLatin1(kLoginPath),
                                                       QString::fromLatin1(kLoginManager), method);
    // Interactive: the login manager may ask the user to authenticate.
    call << true;
    // Sent with no reply expected: a login manager that never answers must
    // not hold the caller up.
    if (bus.send(call)) return 0;
    if (detail) *detail = bus.lastError().message();
    return connectionInvalid;
}

std::int32_t sendCoreEventToSystemProcess(std::uint32_t eventID, QString* detail) {
    if (host::isSandboxed()) return recordInSandbox(eventID);
    return sendCoreEventToLoginManager(QDBusConnection::systemBus(), eventID, detail);
}

}  // namespace uninstall
