// The commands around the executor: install, authorize, status, operations.
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include "authorizer.h"
#include "commandline.h"
#include "commandsupport.h"
#include "executorrunner.h"
#include "host/root.h"
#include "host/system.h"
#include "operationcatalog.h"

namespace varno {

namespace {

const char kInstallUsage[] = "usage: Varno install";
const char kAuthorizeUsage[] = "usage: Varno authorize > FILE";
const char kStatusUsage[] = "usage: Varno status [--disks [--timeout SECONDS]]";
const char kOperationsUsage[] = "usage: Varno operations [OPERATION]";
const char kInstallHelp[] =
    R"(Sends the executor the request "KVXAESetuidrootAuthExec", which makes it
repair its own privileges (owner root, set-user-ID), and says what changed.
)";

const char kAuthorizeHelp[] =
    R"(Creates an authorization holding "com.kvxlabs.Varno.authExec" and writes
its 32-byte external form to standard output, for programs that start the
executor themselves. The form is good for the user who made it only.
)";

const char kStatusHelp[] =
    R"(Tells where the executor is, whether it is set-user-ID root, the system
root in use and the system version found there.

With --disks, lists instead the disks and volumes the disk utility
describes: device, media or volume name, mount point and size. It waits up
to --timeout seconds (30) for the descriptions.
)";

const char* keyTypeName(KeyType type) {
    switch (type) {
        case KeyType::Boolean:
            return "boolean";
        case KeyType::Integer:
            return "integer";
        case KeyType::String:
            return "string";
        case KeyType::StringArray:
            return "list of strings";
        case KeyType::BooleanDictionary:
            return "list of names";
        case KeyType::Dictionary:
            return "dictionary";
    }
    return "";
}

bool isSetuidRoot(const struct stat& st) {
    return st.st_uid == 0 && (st.st_mode & S_ISUID);
}

QString ownerAndMode(const struct stat& st) {
    return QStringLiteral("owner %1, mode %2")
        .arg(st.st_uid)
        .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
}

}  // namespace

int CommandLine::installCommand(const QStringList& args) {
    QString error;
    auto parsed = parseArguments(args, false, false, &error);
    if (!parsed) return usageError(kInstallUsage, error);
    if (parsed->help) {
        print(QString::fromLatin1(kInstallUsage) + u'\n' + QString::fromLatin1(kInstallHelp));
        return 0;
    }
    if (!parsed->positional.isEmpty())
        return usageError(kInstallUsage, QStringLiteral("\"install\" takes no arguments"));
    const QString executor = ExecutorRunner::defaultExecutorPath();
    struct stat before {};
    const bool wasSetuidRoot =
        stat(QFile::encodeName(executor).constData(), &before) == 0 && isSetuidRoot(before);

    QList<RunOutcome> outcomes;
    const QVariantMap request{
        {QLatin1String(kIdentifierKey), QLatin1String(kSetuidRootIdentifier)}};
    if (int status = runRequests({request}, false, &outcomes)) return status;
    const RunOutcome& outcome = outcomes.first();
    if (!outcome.succeeded()) {
        printError(QStringLiteral("the executor could not install its privileges: %1")
                       .arg(endingText(outcome)));
        return statusOfRun(outcome);
    }
    return reportRepair(executor, wasSetuidRoot);
}

int CommandLine::reportRepair(const QString& executor, bool wasSetuidRoot) {
    struct stat after {};
    if (stat(QFile::encodeName(executor).constData(), &after) != 0) {
        printError(QStringLiteral("cannot examine %1 after the repair").arg(executor));
        return kExitSoftware;
    }
    const QString mode = ownerAndMode(after);
    if (isSetuidRoot(after)) {
        if (wasSetuidRoot)
            print(QStringLiteral(
                      "The executor %1 was already set-user-ID root (%2): nothing to repair.\n")
                      .arg(executor, mode));
        else
            print(QStringLiteral("Installed: the executor %1 is now set-user-ID root (%2).\n")
                      .arg(executor, mode));
        return 0;
    }
    if (getuid() == 0) {
        print(QStringLiteral(
                  "The executor %1 ran as root, which needs no set-user-ID bit, and was left as it "
                  "was (%2). It repairs itself when another user first runs it.\n")
                  .arg(executor, mode));
        return 0;
    }
    printError(QStringLiteral("the executor %1 ran but is still not set-user-ID root (%2)")
                   .arg(executor, mode));
    return kExitNoPermission;
}

int CommandLine::authorizeCommand(const QStringList& args) {
    QString error;
    auto parsed = parseArguments(args, false, false, &error);
    if (!parsed) return usageError(kAuthorizeUsage, error);
    if (parsed->help) {
        print(QString::fromLatin1(kAuthorizeUsage) + u'\n' + QString::fromLatin1(kAuthorizeHelp));
        return 0;
    }
    if (!parsed->positional.isEmpty())
        return usageError(kAuthorizeUsage, QStringLiteral("\"authorize\" takes no arguments"));
    if (isatty(fileno(out_)))
        return usageError(
            kAuthorizeUsage,
            QStringLiteral("the form is 32 bytes of binary: send it to a file or a pipe"));
    Authorizer authorizer;
    if (auth::OSStatus status = authorizer.create()) {
        printError(QStringLiteral("cannot obtain the right \"%1\": %2 (status %3)")
                       .arg(QLatin1String(kAuthExecRight), Authorizer::statusText(status))
                       .arg(status));
        return kExitNoPermission;
    }
    const QByteArray form = authorizer.externalForm();
    if (std::fwrite(form.constData(), 1, static_cast<size_t>(form.size()), out_) !=
            static_cast<size_t>(form.size()) ||
        std::fflush(out_) != 0) {
        printError(QStringLiteral("cannot write the form to standard output"));
        return kExitIOError;
    }
    // The form stays good after Varno ends: another program presents it.
    authorizer.keep();
    return 0;
}

int CommandLine::statusCommand(const QStringList& args) {
    for (const QString& arg : args)
        if (arg == u"--disks" || arg == u"-disks") return disksCommand(args);
    QString error;
    auto parsed = parseArguments(args, false, false, &error);
    if (!parsed) return usageError(kStatusUsage, error);
    if (parsed->help) {
        print(QString::fromLatin1(kStatusUsage) + u'\n' + QString::fromLatin1(kStatusHelp));
        return 0;
    }
    if (!parsed->positional.isEmpty())
        return usageError(kStatusUsage, QStringLiteral("\"status\" takes no arguments"));
    const QString executor = ExecutorRunner::defaultExecutorPath();
    struct stat st {};
    QString privileges;
    if (stat(QFile::encodeName(executor).constData(), &st) != 0) {
        privileges = QStringLiteral("missing");
    } else {
        privileges = (isSetuidRoot(st) ? QStringLiteral("set-user-ID root (")
                                       : QStringLiteral("not set-user-ID root (")) +
                     ownerAndMode(st) + u')';
    }
    const QString root = QString::fromStdString(host::systemRoot());
    const std::int32_t version = host::systemVersion();
    const QString versionText = version
                                    ? QStringLiteral("%1.%2.%3 (0x%4)")
                                          .arg((version >> 12 & 0xF) * 10 + (version >> 8 & 0xF))
                                          .arg(version >> 4 & 0xF)
                                          .arg(version & 0xF)
                                          .arg(version, 0, 16)
                                    : QStringLiteral("unknown (no readable SystemVersion.plist)");
    print(QStringLiteral("Executor:        %1\n"
                         "Privileges:      %2\n"
                         "System root:     %3\n"
                         "System version:  %4\n"
                         "Preferences:     %5\n")
              .arg(executor, privileges,
                   host::isSandboxed() ? root + QStringLiteral(" (sandbox)") : root, versionText,
                   preferencesPath()));
    return 0;
}

int CommandLine::operationsCommand(const QStringList& args) {
    QString error;
    auto parsed = parseArguments(args, false, false, &error);
    if (!parsed) return usageError(kOperationsUsage, error);
    if (parsed->help || parsed->positional.isEmpty()) {
        print(OperationCatalog::knownOperationsText());
        return 0;
    }
    if (parsed->positional.size() > 1)
        return usageError(kOperationsUsage, QStringLiteral("one operation at a time"));
    const Operation* op = OperationCatalog::find(parsed->positional.first());
    if (!op) return unknownOperation(kOperationsUsage, parsed->positional.first());
    print(QStringLiteral("%1 (%2): %3\n")
              .arg(QLatin1String(op->alias), QLatin1String(op->identifier),
                   QLatin1String(op->title)));
    if (op->keys.isEmpty()) print(QStringLiteral("  reads no keys\n"));
    for (const KeySpec& k : op->keys)
        print(QStringLiteral("  %1  %2\n")
                  .arg(QLatin1String(k.name), -30)
                  .arg(QLatin1String(keyTypeName(k.type))));
    return 0;
}

}  // namespace varno
