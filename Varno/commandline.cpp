#include "commandline.h"

#include <QFileInfo>

#include "authorizer.h"
#include "commandsupport.h"
#include "consoleview.h"
#include "executorrunner.h"
#include "operationcatalog.h"
#include "plistreport.h"
#include "signalpipe.h"

namespace varno {

namespace {

const char* const kMainUsage = CommandLine::kUsage;
const char kRunUsage[] =
    "usage: Varno run OPERATION [KEY=VALUE ...] [--request FILE] [--debug] [--plist]";
const char kMainHelp[] = R"(Runs the suite's maintenance operations through its privileged executor.

Commands:
  run OPERATION [KEY=VALUE ...]   run one operation and show its progress
  queue list|show|add|remove|run  keep and run queues of configurations
  schedule list|add|enable|disable|remove
                                  run queues on a schedule, through the agent
  install                         install or repair the executor's privileges
  authorize                       write an authorization form for the executor
  status                          where the executor is, and what it runs on
  status --disks                  the disks and volumes, with their sizes
  operations [OPERATION]          the operations and the keys they read

Without a command, as the agent starts it, Varno fetches the agent's waiting
action (a scheduled queue, the hard-restart queue or the report of a queue
run before a restart), performs it and has the agent check its schedule
again.

Options:
  --root DIR   use DIR as the system root (sets VARNO_SYSTEM_ROOT)
  -DEBUG       tell each step of the work for the agent on standard error
  -h, --help   this text; "Varno COMMAND --help" tells about one command
)";

const char kRunHelp[] = R"(Runs one operation: OPERATION is an identifier or its alias (see
"Varno operations"). Text lines appear as the executor writes them, progress
as a bar (plain "NN%" lines when the output is no terminal), then a summary.
The exit status is the executor's, or 76 when it ended with 0 but a result
record was lost: one that could not be read, was too large, or never came
from an operation that always writes one.

Values: true/false are booleans, whole numbers integers, anything else a
string, unless the operation's key says otherwise. A repeated key or a comma
list makes an array ("\," is a comma); KEY.NAME=VALUE sets one entry of a
dictionary; KEY=@FILE takes the property list in FILE.
  Varno run clean-caches UserFonts=true SystemBoot=true
  Varno run clean-localizations UserApplications=true Languages=French,German

Options:
  --request FILE  start from the request (a property list) in FILE
  --debug         debug mode: announce removals without doing them
  --plist         write every record as one property list instead
)";

}  // namespace

CommandLine::CommandLine(const QStringList& arguments, std::FILE* out, std::FILE* err)
    : arguments_(arguments), out_(out), err_(err) {}

void CommandLine::print(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), out_);
    std::fflush(out_);
}

void CommandLine::printError(const QString& text) {
    const QByteArray bytes = (QStringLiteral("Varno: ") + text + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), err_);
    std::fflush(err_);
}

int CommandLine::usageError(const char* usage, const QString& message) {
    printError(message);
    std::fprintf(err_, "%s\n", usage);
    return kExitUsage;
}

int CommandLine::unknownOperation(const char* usage, const QString& name) {
    printError(QStringLiteral("unknown operation \"%1\"; the known operations are:").arg(name));
    const QByteArray list = OperationCatalog::knownOperationsText().toUtf8();
    std::fwrite(list.constData(), 1, static_cast<size_t>(list.size()), err_);
    std::fprintf(err_, "%s\n", usage);
    return kExitUsage;
}

int CommandLine::storeFailure(const StoreError& error) {
    printError(error.message);
    return error.isUsageError() ? kExitUsage : kExitIOError;
}

int CommandLine::exec() {
    // Options before the command belong to Varno itself.
    QStringList args = arguments_;
    while (!args.isEmpty() && args.first().startsWith(u'-')) {
        const QString option = args.takeFirst();
        // The agent passes its debug mode on.
        if (option == u"-DEBUG") {
            agentDebug_ = true;
            continue;
        }
        if (option == u"-h" || option == u"--help") {
            print(QString::fromLatin1(kMainUsage) + u'\n' + QString::fromLatin1(kMainHelp));
            return 0;
        }
        QString root;
        if (option == u"--root") {
            if (args.isEmpty())
                return usageError(kMainUsage, QStringLiteral("--root needs a folder"));
            root = args.takeFirst();
        } else if (option.startsWith(u"--root=")) {
            root = option.mid(7);
        } else {
            return usageError(kMainUsage, QStringLiteral("unknown option \"%1\"").arg(option));
        }
        if (root.isEmpty() || !QFileInfo(root).isDir())
            return usageError(kMainUsage,
                              QStringLiteral("the system root \"%1\" is no folder").arg(root));
        // Children (the executor) find the root the same way.
        qputenv("VARNO_SYSTEM_ROOT", QFileInfo(root).absoluteFilePath().toLocal8Bit());
    }
    if (args.isEmpty()) return agentPeer();
    const QString command = args.takeFirst();
    if (command == u"run") return runCommand(args);
    if (command == u"queue") return queueCommand(args);
    if (command == u"schedule") return scheduleCommand(args);
    if (command == u"install") return installCommand(args);
    if (command == u"authorize") return authorizeCommand(args);
    if (command == u"status") return statusCommand(args);
    if (command == u"operations") return operationsCommand(args);
    if (command == u"help") {
        print(QString::fromLatin1(kMainUsage) + u'\n' + QString::fromLatin1(kMainHelp));
        return 0;
    }
    return usageError(kMainUsage, QStringLiteral("unknown command \"%1\"").arg(command));
}

int CommandLine::runCommand(const QStringList& args) {
    QString error;
    auto parsed = parseArguments(args, true, true, &error);
    if (!parsed) return usageError(kRunUsage, error);
    if (parsed->help) {
        print(QString::fromLatin1(kRunUsage) + u'\n' + QString::fromLatin1(kRunHelp));
        return 0;
    }
    if (parsed->positional.isEmpty() && parsed->requestFile.isEmpty())
        return usageError(kRunUsage, QStringLiteral("no operation given"));
    RequestInput in = buildRequest(parsed->positional, *parsed);
    if (in.unknownOperation) return unknownOperation(kRunUsage, in.operationName);
    if (!in.request) return usageError(kRunUsage, in.error);
    for (const QString& w : in.warnings) printError(QStringLiteral("warning: ") + w);

    QList<RunOutcome> outcomes;
    if (int status = runRequests({*in.request}, parsed->plist, &outcomes)) return status;
    return statusOfRun(outcomes.first());
}

int CommandLine::runRequests(const QList<QVariantMap>& requests, bool plist,
                             QList<RunOutcome>* outcomes) {
    const QString executor = ExecutorRunner::defaultExecutorPath();
    if (!QFileInfo(executor).isFile()) {
        printError(QStringLiteral("cannot find the executor at %1").arg(executor));
        return kExitUnavailable;
    }
    Authorizer authorizer;
    if (auth::OSStatus status = authorizer.create()) {
        printError(QStringLiteral("cannot obtain the right \"%1\": %2 (status %3)")
                       .arg(QLatin1String(kAuthExecRight), Authorizer::statusText(status))
                       .arg(status));
        return kExitNoPermission;
    }
    // With --plist, standard output carries the property list alone.
    ConsoleView view(plist ? nullptr : out_, err_, !plist && ConsoleView::isTerminal(out_));
    ExecutorRunner runner(executor, authorizer.externalForm(), &view);
    for (const QVariantMap& request : requests) {
        if (SignalPipe::instance()->received()) break;
        outcomes->append(runner.run(request));
    }
    if (plist) {
        const QByteArray document = plistReportDocument(*outcomes);
        std::fwrite(document.constData(), 1, static_cast<size_t>(document.size()), out_);
        std::fflush(out_);
    } else {
        view.printSummary(*outcomes);
    }
    if (int signal = SignalPipe::instance()->received()) {
        printError(QStringLiteral("interrupted; %1 of %2 configurations run")
                       .arg(outcomes->size())
                       .arg(requests.size()));
        return 128 + signal;
    }
    return 0;
}

}  // namespace varno
