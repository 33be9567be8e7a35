#include "schedule/launchagent.h"

#include <unistd.h>

#include <QFile>
#include <cerrno>

#include "app/userdefaults.h"
#include "schedule/model.h"

namespace schedule {
namespace {

// One argument of an Exec line, quoted, with what stays special inside
// quotes escaped; then "%" doubled (it starts field codes) and backslashes
// doubled, as in any string value.
QString execArgument(const QString& argument) {
    QString quoted = QStringLiteral("\"");
    for (QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    quoted.replace(u'%', QStringLiteral("%%"));
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    return quoted;
}

}  // namespace

QString launchAgentPath() {
    return app::expandTildeInPath(
        QStringLiteral("~/Library/LaunchAgents/%1.plist").arg(QLatin1String(kAgentIdentifier)));
}

QString autostartPath() {
    return app::expandTildeInPath(
        QStringLiteral("~/.config/autostart/%1.desktop").arg(QLatin1String(kAgentIdentifier)));
}

QVariantMap launchAgentDictionary(const QString& agentProgram, bool disabled) {
    return {{QStringLiteral("Disabled"), disabled},
            {QStringLiteral("Label"), QLatin1String(kAgentIdentifier)},
            {QStringLiteral("Program"), agentProgram},
            {QStringLiteral("RunAtLoad"), true},
            {QStringLiteral("KeepAlive"), false},
            {QStringLiteral("OnDemand"), true},
            {QStringLiteral("LaunchOnlyOnce"), true}};
}

QString autostartEntry(const QString& agentProgram) {
    for (QChar c : agentProgram)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) return QString();
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=VarnoAgent\n"
               "Comment=Counts down and starts the scheduled queues of Varno\n"
               "Exec=%1\n"
               "Terminal=false\n"
               "NoDisplay=true\n"
               "X-GNOME-Autostart-enabled=true\n"
               "X-KVX-Label=%2\n")
        .arg(execArgument(agentProgram), QLatin1String(kAgentIdentifier));
}

int removeAutostartEntry() {
    const QByteArray path = QFile::encodeName(app::realPathForMachinePath(autostartPath()));
    if (unlink(path.constData()) == 0) return 0;
    return errno == ENOTDIR ? ENOENT : errno;  // a file on the way: no entry either
}

}  // namespace schedule
