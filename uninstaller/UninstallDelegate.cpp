#include "UninstallDelegate.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "SystemEvent.h"
#include "ToolResult.h"
#include "app/alert.h"
#include "app/application.h"
#include "app/log.h"
#include "app/propertylistfile.h"
#include "app/userdefaults.h"
#include "fs/remove.h"
#include "host/root.h"
#include "schedule/launchagent.h"
#include "schedule/model.h"

extern char** environ;

namespace {

const QString kMainApplicationName = QStringLiteral("Varno");
const QString kAgentName = QStringLiteral("VarnoAgent");
const QString kApplicationSupportPath = QStringLiteral("~/Library/Application Support/Varno");
const QString kApplicationBundlePath = QStringLiteral("/Applications/Varno.app");
// What else the suite leaves in a home folder on this platform: the login
// items (shared file list entries, each with a desktop entry of its own)
// that start the suite, beside the agent's own start at login.
const QString kAutostartFolder = QStringLiteral("~/.config/autostart");
const QString kLoginItemsList =
    QStringLiteral("~/Library/Preferences/com.apple.LSSharedFileList.SessionLoginItems.plist");
const QByteArray kLoginItemPathKey = QByteArrayLiteral("X-KVX-SharedFileList-Path=");
constexpr const char* kKillallPath = "/usr/bin/killall";
const QString kPrivilegedToolName = QStringLiteral("uninstallTool");
constexpr const char* kAdminRight = "system.privilege.admin";
const QString kIconName = QStringLiteral("VarnoIcon64");

// The application's icon, as the platform's alerts show it.
void setApplicationIcon(app::Alert& alert, const QString& bundlePath) {
    const QPixmap icon = app::imageNamed(kIconName, bundlePath);
    if (!icon.isNull()) alert.setIcon(icon);
}

// Starts killall with the process name and waits for it; a non-zero status
// is logged and the caller goes on either way.
void killProcessNamed(const QString& name) {
    const std::string program = host::realPath(kKillallPath);
    std::string argv0 = kKillallPath;
    std::string argv1 = name.toStdString();
    char* argv[] = {argv0.data(), argv1.data(), nullptr};
    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ);
    if (error != 0) {
        app::NSLogv(QStringLiteral("Could not start %@: %@"),
                    {QString::fromLatin1(kKillallPath), QString::fromLocal8Bit(strerror(error))});
        return;
    }
    int status = 0;
    pid_t done;
    do {
        done = waitpid(pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    if (done < 0) {
        app::NSLogv(QStringLiteral("Could not wait for %@: %@"),
                    {QString::fromLatin1(kKillallPath), QString::fromLocal8Bit(strerror(errno))});
        return;
    }
    // Ended by a signal, the status is the signal's number, as the platform's tasks report it.
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
    if (code != 0) app::NSLogv(QStringLiteral("Task failed with status %d"), {code});
}

// Removes a file or folder with its contents; the error is logged.
void removeItemAtPath(const QString& machinePath) {
    const int error =
        vfs::removefile(QFile::encodeName(machinePath).toStdString(), vfs::REMOVEFILE_RECURSIVE);
    if (error == 0) return;
    const QString description = QStringLiteral("cannot remove %1: %2 (%3)")
                                    .arg(machinePath, QString::fromLocal8Bit(strerror(error)))
                                    .arg(error);
    app::NSLogv(QStringLiteral("%@"), {description});
}

// As removeItemAtPath, for items a user of this platform need not have: one
// that is not there is no failure.
void removeItemIfPresent(const QString& machinePath) {
    const int error = vfs::removefile(QFile::encodeName(machinePath).toStdString(), 0);
    if (error == 0 || error == ENOENT) return;
    app::NSLogv(QStringLiteral("%@"),
                {QStringLiteral("cannot remove %1: %2 (%3)")
                     .arg(machinePath, QString::fromLocal8Bit(strerror(error)))
                     .arg(error)});
}

// The application bundle or anything inside it.
bool isInSuite(const QString& machinePath) {
    return machinePath == kApplicationBundlePath ||
           machinePath.startsWith(kApplicationBundlePath + '/');
}

QString realPathOf(const QString& machinePath) {
    return QString::fromStdString(host::realPath(QFile::encodeName(machinePath).toStdString()));
}

// Login items that start something of the suite: their desktop entries go,
// which takes them out of the list; the list file goes too once it names
// nothing else. Other entries are left as they are.
void removeSuiteLoginItems() {
    const QString folder = app::expandTildeInPath(kAutostartFolder);
    const QDir autostart(realPathOf(folder));
    for (const QString& name :
         autostart.entryList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Hidden)) {
        QFile entry(autostart.filePath(name));
        if (entry.size() > 64 * 1024 || !entry.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : entry.readAll().split('\n')) {
            // The suite's paths hold no backslash, so the escaped value
            // starts as the path does.
            if (line.startsWith(kLoginItemPathKey) &&
                isInSuite(QString::fromUtf8(line.mid(kLoginItemPathKey.size())))) {
                removeItemIfPresent(folder + '/' + name);
                break;
            }
        }
    }
    const QString list = app::expandTildeInPath(kLoginItemsList);
    const app::DictionaryFile stored = app::readDictionaryFile(realPathOf(list));
    if (stored.state != app::FileState::Present) return;
    for (const QVariant& item : stored.dictionary.value(QStringLiteral("Items")).toList())
        if (!isInSuite(item.toMap().value(QStringLiteral("Path")).toString())) return;
    removeItemIfPresent(list);
}

// Folders the suite made for its files, once they are empty.
void removeFolderIfEmpty(const QString& machinePath) {
    (void)rmdir(QFile::encodeName(realPathOf(machinePath)).constData());
}

}  // namespace

UninstallDelegate::UninstallDelegate()
    : UninstallDelegate(Environment{app::mainBundlePath(), &app::terminate}) {}

UninstallDelegate::UninstallDelegate(Environment environment)
    : environment_(std::move(environment)) {}

void UninstallDelegate::applicationDidFinishLaunching() {
    auto confirmation = app::Alert::alertWithMessageText(
        QStringLiteral("Uninstall Varno"), QStringLiteral("Uninstall"), QStringLiteral("Cancel"),
        QString(),
        QStringLiteral("Are you sure you want to uninstall Varno? Doing so will remove all of "
                       "Varno's components and settings. This action cannot be undone."));
    setApplicationIcon(*confirmation, environment_.bundlePath);
    if (confirmation->runModal() != app::Alert::kDefaultReturn) {
        environment_.terminate();
        return;
    }
    confirmation.reset();

    auth::AuthorizationRef authorization = authorize();
    doUnprivileged();
    const std::int32_t result = doPrivileged(authorization.get());
    if (result != -1) {
        finishedWithStatus(result);
        return;
    }

    auto restart = app::Alert::alertWithMessageText(
        QStringLiteral("Restart Recommended"), QStringLiteral("Restart"), QStringLiteral("Cancel"),
        QString(),
        QStringLiteral("Uninstallation is complete, but your swap volume has been reverted back "
                       "to the startup volume. A restart is needed for this change to take "
                       "effect."));
    setApplicationIcon(*restart, environment_.bundlePath);
    // Cancel: the user quits when ready.
    if (restart->runModal() != app::Alert::kDefaultReturn) return;
    const std::int32_t error = sendAppleEventToSystemProcess(uninstall::kAERestart);
    if (error != 0) {
        app::NSLogv(QStringLiteral("Error %ld restarting."), {error});
        return;
    }
    environment_.terminate();
}

auth::AuthorizationRef UninstallDelegate::authorize() {
    auth::AuthorizationRef authorization;
    auth::OSStatus status =
        auth::AuthorizationCreate(nullptr, auth::kAuthorizationFlagDefaults, &authorization);
    if (status != auth::errAuthorizationSuccess) {
        app::NSLogv(QStringLiteral("AuthorizationCreate() failed with status %ld"), {status});
        return authorization;
    }
    const auth::AuthorizationRights rights = {{kAdminRight, "", 0}};
    const auth::AuthorizationFlags flags = auth::kAuthorizationFlagInteractionAllowed |
                                           auth::kAuthorizationFlagExtendRights |
                                           auth::kAuthorizationFlagPreAuthorize;
    status = auth::AuthorizationCopyRights(*authorization, rights, flags);
    if (status != auth::errAuthorizationSuccess)
        app::NSLogv(QStringLiteral("AuthorizationCopyRights() failed with status %ld"), {status});
    return authorization;
}

void UninstallDelegate::doUnprivileged() {
    app::NSLog(QStringLiteral("doUnprivileged"));
    app::NSLog(QStringLiteral("Killing Varno..."));
    killProcessNamed(kMainApplicationName);

    app::NSLog(QStringLiteral("Removing LaunchAgent..."));
    removeItemAtPath(schedule::launchAgentPath());
    removeItemIfPresent(schedule::autostartPath());

    app::NSLog(QStringLiteral("Killing VarnoAgent..."));
    killProcessNamed(kAgentName);

    app::NSLog(QStringLiteral("Removing preferences..."));
    removeItemAtPath(app::persistentDomainPath(QLatin1String(schedule::kVarnoIdentifier)));

    app::NSLog(QStringLiteral("Removing Application Support..."));
    removeItemAtPath(app::expandTildeInPath(kApplicationSupportPath));
    removeSuiteLoginItems();
    removeFolderIfEmpty(app::expandTildeInPath(kAutostartFolder));
    removeFolderIfEmpty(app::expandTildeInPath(QStringLiteral("~/.config")));

    removeItemAtPath(kApplicationBundlePath);
}

std::int32_t UninstallDelegate::doPrivileged(const auth::Authorization* authorization) {
    app::NSLog(QStringLiteral("doPrivileged"));
    const QString tool =
        environment_.bundlePath + QStringLiteral("/Contents/MacOS/") + kPrivilegedToolName;
    FILE* pipe = nullptr;
    const auth::OSStatus status = authorization == nullptr
                                      ? auth::errAuthorizationInvalidRef
                                      : auth::AuthorizationExecuteWithPrivileges(
                                            *authorization, QFile::encodeName(tool).toStdString(),
                                            auth::kAuthorizationFlagDefaults, {}, &pipe);
    if (status != auth::errAuthorizationSuccess) {
        app::NSLogv(QStringLiteral("AuthorizationExecuteWithPrivileges() failed with status %ld"),
                    {status});
        // Nothing ran, so nothing was removed: the user must hear of it.
        return status;
    }
    const uninstall::ToolOutput output = uninstall::readToolOutput(fileno(pipe));
    fclose(pipe);
    const std::optional<std::int32_t> result = uninstall::resultFromToolOutput(output);
    if (!result) {
        app::NSLogv(QStringLiteral("%@ ended without reporting its result."),
                    {kPrivilegedToolName});
        return uninstall::kNoResultStatus;
    }
    return *result;
}

void UninstallDelegate::finishedWithStatus(std::int32_t status) {
    std::unique_ptr<app::Alert> alert;
    if (status == 0) {
        alert = app::Alert::alertWithMessageText(QStringLiteral("Uninstallation Complete"),
                                                 QStringLiteral("OK"), QString(), QString(),
                                                 QStringLiteral("All done. Have a nice day!"));
    } else {
        alert = app::Alert::alertWithMessageText(
            QStringLiteral("Uninstallation Failed"), QStringLiteral("OK"), QString(), QString(),
            QStringLiteral("Uninstallation failed with error ") + QString::number(status) +
                QStringLiteral(". Check the Console for more details."));
    }
    setApplicationIcon(*alert, environment_.bundlePath);
    alert->runModal();
    environment_.terminate();
}

std::int32_t UninstallDelegate::sendAppleEventToSystemProcess(std::uint32_t eventID) {
    QString detail;
    const std::int32_t error = uninstall::sendCoreEventToSystemProcess(eventID, &detail);
    if (error != 0 && !detail.isEmpty()) app::NSLogv(QStringLiteral("%@"), {detail});
    return error;
}
