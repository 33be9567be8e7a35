#include "launchagent.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <cerrno>
#include <cstring>

#include "app/propertylistfile.h"
#include "app/userdefaults.h"
#include "host/root.h"
#include "schedulestore.h"

namespace varno {

namespace {

const char kAgentLabel[] = "com.kvxlabs.Varno2.agent";
const char kLaunchctl[] = "/bin/launchctl";

QString realPath(const QString& machinePath) {
    return app::realPathForMachinePath(machinePath);
}

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

LaunchAgent::LaunchAgent(QString agentBundle) : agentBundle_(QDir::cleanPath(agentBundle)) {}

QString LaunchAgent::defaultAgentBundle() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../Resources/VarnoAgent.app"));
}

QString LaunchAgent::launchAgentPath() {
    return app::expandTildeInPath(
        QStringLiteral("~/Library/LaunchAgents/%1.plist").arg(QLatin1String(kAgentLabel)));
}

QString LaunchAgent::autostartPath() {
    return app::expandTildeInPath(
        QStringLiteral("~/.config/autostart/%1.desktop").arg(QLatin1String(kAgentLabel)));
}

QVariantMap LaunchAgent::launchAgentDictionary(bool disabled) const {
    // As the agent names itself: its bundle as a machine path.
    const QString program = QString::fromStdString(host::machinePath(agentBundle_.toStdString())) +
                            QStringLiteral("/Contents/MacOS/VarnoAgent");
    return {{QStringLiteral("Disabled"), disabled},
            {QStringLiteral("Label"), QLatin1String(kAgentLabel)},
            {QStringLiteral("Program"), program},
            {QStringLiteral("RunAtLoad"), true},
            {QStringLiteral("KeepAlive"), false},
            {QStringLiteral("OnDemand"), true},
            {QStringLiteral("LaunchOnlyOnce"), true}};
}

QString LaunchAgent::desktopEntry() const {
    const QString executable = agentBundle_ + QStringLiteral("/Contents/MacOS/VarnoAgent");
    for (QChar c : executable)
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
        .arg(execArgument(executable), QLatin1String(kAgentLabel));
}

bool LaunchAgent::writeLaunchAgent(bool disabled, QStringList* warnings) const {
    const QString path = launchAgentPath();
    const QString real = realPath(path);
    if (!QDir().mkpath(QFileInfo(real).absolutePath())) {
        *warnings << QStringLiteral("cannot create the folder of %1").arg(path);
        return false;
    }
    QString error;
    if (!app::writeDictionaryFile(real, launchAgentDictionary(disabled), &error, 0644)) {
        *warnings << error;
        return false;
    }
    return true;
}

void LaunchAgent::launchctl(const QString& verb, QStringList* done, QStringList* warnings) const {
    const QString tool = realPath(QLatin1String(kLaunchctl));
    // No launchd here (a Linux desktop): the autostart entry does its work.
    if (access(QFile::encodeName(tool).constData(), X_OK) != 0) return;
    QProcess process;
    process.setProgram(tool);
    process.setArguments({verb, realPath(launchAgentPath())});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start();
    if (!process.waitForFinished(30000)) {
        *warnings << QStringLiteral("%1 %2: %3")
                         .arg(QLatin1String(kLaunchctl), verb, process.errorString());
        process.kill();
        process.waitForFinished(1000);
        return;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *warnings << QStringLiteral("%1 %2 failed (status %3)")
                         .arg(QLatin1String(kLaunchctl), verb)
                         .arg(process.exitCode());
        return;
    }
    *done << QStringLiteral("%1 %2 %3").arg(QLatin1String(kLaunchctl), verb, launchAgentPath());
}

bool LaunchAgent::installAutostart(QStringList* done, QStringList* warnings) const {
    const QString entry = desktopEntry();
    const QString path = autostartPath();
    if (entry.isEmpty()) {
        *warnings << QStringLiteral("the agent's path cannot stand in %1").arg(path);
        return false;
    }
    const QString real = realPath(path);
    const QByteArray bytes = entry.toUtf8();
    QFile current(real);
    if (current.open(QIODevice::ReadOnly) && current.readAll() == bytes) return true;
    current.close();
    if (!QDir().mkpath(QFileInfo(real).absolutePath())) {
        *warnings << QStringLiteral("cannot create the folder of %1").arg(path);
        return false;
    }
    QSaveFile file(real);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *warnings << QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    *done << QStringLiteral("wrote %1").arg(path);
    return true;
}

bool LaunchAgent::removeAutostart(QStringList* done, QStringList* warnings) const {
    const QString path = autostartPath();
    const QString real = realPath(path);
    if (!QFileInfo(real).exists() && !QFileInfo(real).isSymLink()) return true;
    if (unlink(QFile::encodeName(real).constData()) != 0) {
        *warnings << QStringLiteral("cannot remove %1: %2")
                         .arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    *done << QStringLiteral("removed %1").arg(path);
    return true;
}

bool LaunchAgent::apply(const QVariantMap& domain, QStringList* done, QStringList* warnings) const {
    const bool scheduled = anyScheduleEnabled(domain);
    const bool startupChecks = startupChecksEnabled(domain);
    bool ok = true;
    if (scheduled) {
        if (writeLaunchAgent(false, warnings)) {
            *done << QStringLiteral("wrote %1").arg(launchAgentPath());
            launchctl(QStringLiteral("load"), done, warnings);
        } else {
            ok = false;
        }
    } else if (QFileInfo::exists(realPath(launchAgentPath()))) {
        // As the agent leaves it when its last schedule goes.
        if (writeLaunchAgent(!startupChecks, warnings)) {
            *done << QStringLiteral("wrote %1").arg(launchAgentPath());
            launchctl(QStringLiteral("unload"), done, warnings);
        } else {
            ok = false;
        }
    }
#if defined(__linux__)
    if (scheduled || startupChecks)
        ok = installAutostart(done, warnings) && ok;
    else
        ok = removeAutostart(done, warnings) && ok;
#endif
    return ok;
}

}  // namespace varno
