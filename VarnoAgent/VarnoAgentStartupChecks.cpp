// Checks at the start of a new login session: a report the main application
// left before an automatic restart, failing disks, and a hard restart.
#include <QProcess>

#include "AgentAlerts.h"
#include "AgentDebug.h"
#include "DiskUtilText.h"
#include "RebootTime.h"
#include "VarnoAgentDelegate.h"
#include "app/application.h"
#include "app/log.h"
#include "app/userdefaults.h"
#include "host/root.h"

namespace {

const QString kLastPath = QStringLiteral("/usr/bin/last");
const QString kDiskUtilPath = QStringLiteral("/usr/sbin/diskutil");
const QString kWholeDisksKey = QStringLiteral("WholeDisks");
const QString kSMARTStatusKey = QStringLiteral("SMARTStatus");
const QString kMediaNameKey = QStringLiteral("MediaName");
const QString kDeviceIdentifierKey = QStringLiteral("DeviceIdentifier");

struct ToolRun {
    QString output;
    int status = -1;  // exit status, the signal's number, or -1 when it did not start
};

// Runs a tool (a machine path) to its end and collects its standard output;
// standard error is the agent's own.
ToolRun runTool(const QString& machinePath, const QStringList& arguments) {
    QProcess process;
    process.setProgram(QString::fromStdString(host::realPath(machinePath.toStdString())));
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start();
    if (!process.waitForStarted(-1)) {
        app::NSLog(QStringLiteral("cannot start %1: %2").arg(machinePath, process.errorString()));
        return {};
    }
    QByteArray output;
    while (process.waitForReadyRead(-1)) output += process.readAllStandardOutput();
    process.waitForFinished(-1);
    output += process.readAllStandardOutput();
    // Decoded whole, so that no character is cut between two reads.
    ToolRun run{QString::fromUtf8(output), process.exitCode()};
    if (process.exitStatus() != QProcess::NormalExit && run.status == 0) run.status = -1;
    return run;
}

bool isNonEmptyString(const QVariant& value) {
    return value.typeId() == QMetaType::QString && !value.toString().isEmpty();
}

}  // namespace

std::optional<QString> VarnoAgentDelegate::last() const {
    const ToolRun run = runTool(kLastPath, {});
    if (run.status == 0) return run.output;
    DLog("Error in 'last': %d", run.status);
    return std::nullopt;
}

std::optional<QDateTime> VarnoAgentDelegate::currentSessionStart() const {
    const std::optional<QString> output = last();
    if (!output) return std::nullopt;
    return sessionStartFromLastOutput(*output, clock_());
}

bool VarnoAgentDelegate::checkNewSession() {
    DLog("checkNewSession");
    const app::DictionaryFile read = app::persistentDomainForName(KVXVarno2Identifier);
    QVariantMap domain = read.dictionary;
    const QVariant storedValue = domain.value(KVXLastSeenHostSessionDefaultsKey);
    const std::optional<QDateTime> stored = storedValue.typeId() == QMetaType::QDateTime
                                                ? std::optional<QDateTime>(storedValue.toDateTime())
                                                : std::nullopt;
    const std::optional<QDateTime> current = currentSessionStart();
    if (stored && (!current || *current <= *stored)) {
        DLog("OLD SESSION");
        return false;
    }
    DLog("NEW SESSION");
    // With no start to record, the next start of the agent is new again. A
    // domain that cannot be read is never written: what it holds is not ours to lose.
    if (!current || read.state == app::FileState::Unreadable) return true;
    domain.insert(KVXLastSeenHostSessionDefaultsKey, current->toUTC());
    QString error;
    if (!app::setPersistentDomain(domain, KVXVarno2Identifier, &error)) app::NSLog(error);
    return true;
}

bool VarnoAgentDelegate::systemHardRestarted() const {
    DLog("systemHardRestarted");
    switch (recordBeforeNewestRestart(last().value_or(QString()))) {
        case RecordBeforeRestart::None:
            DLog("no");
            return false;
        case RecordBeforeRestart::Crash:
            return true;
        case RecordBeforeRestart::Shutdown:
            return false;
        case RecordBeforeRestart::Unended:
            break;
    }
    DLog("HARD-RESTARTED");
    return true;
}

bool VarnoAgentDelegate::startupExecutionCheck() {
    DLog("startupExecutionCheck:");
    const QVariant report = autorestartedQueueReport();
    if (report.isValid()) {
        DLog("(autorestartedReport)");
        promptVarnoToPerformAction(KVXWaitingAgentActionAutorestartedReport, report);
        return true;
    }
    if (smartCheckingEnabled()) checkAndAlertSMARTStatus();
    if (hardRestartCheckingEnabled() && systemHardRestarted()) {
        DLog("(hard restart)");
        const QVariant queue =
            automaticExecution().value(KVXQueueNameHardRestartAutomaticExecutionConfigurationKey);
        promptVarnoToPerformAction(KVXWaitingAgentActionHardRestartQueue,
                                   queue.typeId() == QMetaType::QString ? queue : QVariant());
        return true;
    }
    return false;
}

void VarnoAgentDelegate::checkAndAlertSMARTStatus() {
    DLog("checkAndAlertSMARTStatus");
    for (const QVariantMap& device : failingDevices()) {
        const QVariant identifier = device.value(kDeviceIdentifierKey);
        // A disk that tells no name is named by its identifier.
        QVariant name = device.value(kMediaNameKey);
        if (!isNonEmptyString(name)) name = identifier;
        auto alert = makeHardDriveFailingAlert(name, identifier, icon());
        app::activateIgnoringOtherApps();
        app::beep();
        alert->runModal();
    }
}

QList<QVariantMap> VarnoAgentDelegate::failingDevices() const {
    const ToolRun list = runTool(kDiskUtilPath, {QStringLiteral("list"), QStringLiteral("-plist")});
    if (list.status != 0) DLog("failingDevices: Error in 'diskutil list': %d", list.status);
    const QVariant wholeDisks = diskUtilInfoByParsingInfoString(list.output).value(kWholeDisksKey);
    QList<QVariantMap> infos;
    if (wholeDisks.typeId() == QMetaType::QVariantList) {
        for (const QVariant& disk : wholeDisks.toList()) {
            if (!isNonEmptyString(disk)) continue;
            const QString identifier = disk.toString();
            const ToolRun info = runTool(
                kDiskUtilPath, {QStringLiteral("info"), QStringLiteral("-plist"), identifier});
            if (info.status != 0)
                DLog("failingDevices: Error in 'diskutil info' for node %@: %d", identifier,
                     info.status);
            QVariantMap dictionary = diskUtilInfoByParsingInfoString(info.output);
            // A disk that could not be asked is still named in its warning.
            if (!dictionary.contains(kDeviceIdentifierKey))
                dictionary.insert(kDeviceIdentifierKey, identifier);
            infos << dictionary;
        }
    }
    QList<QVariantMap> failing;
    for (const QVariantMap& info : infos) {
        const QVariant status = info.value(kSMARTStatusKey);
        DLog("SMARTStatus: %@", status);
        const bool healthy = status.typeId() == QMetaType::QString &&
                             (status.toString() == QStringLiteral("Verified") ||
                              status.toString() == QStringLiteral("Not Supported"));
        if (!healthy) failing << info;
    }
    return failing;
}

QVariantMap VarnoAgentDelegate::diskUtilInfoByParsingInfoString(const QString& infoString) const {
    const DiskUtilText parsed = diskUtilDictionaryFromText(infoString);
    if (parsed.error) DLog("diskUtilInfoByParsingInfoString: %@", *parsed.error);
    return parsed.dictionary;
}
