#include "launchagent.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cerrno>
#include <cstring>

#include "app/propertylistfile.h"
#include "app/userdefaults.h"
#include "fs/replace.h"
#include "host/root.h"
#include "preferences.h"
#include "schedule/launchagent.h"
#include "schedulestore.h"

namespace varno {

namespace {

const char kLaunchctl[] = "/bin/launchctl";

QString realPath(const QString& machinePath) {
    return app::realPathForMachinePath(machinePath);
}

}  // namespace

LaunchAgent::LaunchAgent(QString agentBundle) : agentBundle_(QDir::cleanPath(agentBundle)) {}

QString LaunchAgent::defaultAgentBundle() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../Resources/VarnoAgent.app"));
}

QString LaunchAgent::launchAgentPath() {
    return schedule::launchAgentPath();
}

QString LaunchAgent::autostartPath() {
    return schedule::autostartPath();
}

QVariantMap LaunchAgent::launchAgentDictionary(bool disabled) const {
    // As the agent names itself: its bundle as a machine path.
    const QString program = QString::fromStdString(host::machinePath(agentBundle_.toStdString())) +
                            QStringLiteral("/Contents/MacOS/VarnoAgent");
    return schedule::launchAgentDictionary(program, disabled);
}

QString LaunchAgent::desktopEntry() const {
    return schedule::autostartEntry(agentBundle_ + QStringLiteral("/Contents/MacOS/VarnoAgent"));
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
        *warnings << inMachineTerms(error, path);
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
    // Only a file of its own is read: a link's target is none of ours, and a
    // pipe would never end.
    const QFileInfo info(real);
    QFile current(real);
    if (info.isFile() && !info.isSymLink() && current.open(QIODevice::ReadOnly) &&
        current.readAll() == bytes)
        return true;
    current.close();
    if (!QDir().mkpath(info.absolutePath())) {
        *warnings << QStringLiteral("cannot create the folder of %1").arg(path);
        return false;
    }
    const vfs::ReplaceResult replaced =
        vfs::replaceFile(QFile::encodeName(real).toStdString(),
                         std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                         vfs::ReplacementRights::newFileMode(0644));
    if (!replaced.ok()) {
        *warnings << QString::fromStdString(replaced.describe(path.toStdString()));
        return false;
    }
    *done << QStringLiteral("wrote %1").arg(path);
    return true;
}

bool LaunchAgent::removeAutostart(QStringList* done, QStringList* warnings) const {
    const QString path = autostartPath();
    const int error = schedule::removeAutostartEntry();
    if (error == ENOENT) return true;
    if (error != 0) {
        *warnings << QStringLiteral("cannot remove %1: %2")
                         .arg(path, QString::fromLocal8Bit(strerror(error)));
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
