#include "app/log.h"

#include <syslog.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>

#include "app/format.h"
#include "host/self.h"

namespace app {
namespace {

LogHandler& handler() {
    static LogHandler h;
    return h;
}

QString processName() {
    if (QCoreApplication::instance() != nullptr) {
        QString name = QCoreApplication::applicationName();
        if (!name.isEmpty()) return name;
    }
    const std::optional<std::string> exe = host::executablePath();
    if (!exe) return QStringLiteral("unknown");
    return QFileInfo(QString::fromLocal8Bit(QByteArray::fromStdString(*exe))).fileName();
}

// A program that runs on a sandbox system root, or under test, keeps its
// lines off the machine's own log.
bool machineLogAllowed() {
    const char* root = secure_getenv("VARNO_SYSTEM_ROOT");
    if (root != nullptr && *root != '\0' && QByteArray(root) != "/") return false;
    return secure_getenv("VARNO_REQUIRE_SANDBOX") == nullptr;
}

void writeAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        ssize_t n = write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere to report a failing standard error
        p += n;
        left -= n;
    }
}

}  // namespace

LogHandler setLogHandler(LogHandler h) {
    LogHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

void NSLog(const QString& message) {
    if (handler()) {
        handler()(message);
        return;
    }
    const QByteArray text = message.toUtf8();
    if (machineLogAllowed()) syslog(LOG_USER | LOG_NOTICE, "%s", text.constData());
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    writeAll(STDERR_FILENO,
             (stamp + ' ' + processName() + '[' + QString::number(getpid()) + QStringLiteral("] "))
                     .toUtf8() +
                 text + '\n');
}

void NSLogv(const QString& fmt, const QVariantList& arguments) {
    NSLog(format(fmt, arguments));
}

}  // namespace app
