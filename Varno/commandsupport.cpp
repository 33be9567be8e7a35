#include "commandsupport.h"

#include <QCommandLineParser>

#include "commandline.h"
#include "operationcatalog.h"
#include "requestbuilder.h"

namespace varno {

std::optional<Parsed> parseArguments(const QStringList& args, bool withRequest, bool withPlist,
                                     QString* error) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption debug(QStringLiteral("debug"));
    const QCommandLineOption plist(QStringLiteral("plist"));
    const QCommandLineOption request(QStringLiteral("request"), QString(), QStringLiteral("FILE"));
    parser.addOption(help);
    if (withRequest) parser.addOption(debug);
    if (withRequest) parser.addOption(request);
    if (withPlist) parser.addOption(plist);
    if (!parser.parse(QStringList{QStringLiteral("Varno")} + args)) {
        *error = parser.errorText();
        return std::nullopt;
    }
    Parsed parsed;
    parsed.positional = parser.positionalArguments();
    parsed.help = parser.isSet(help);
    parsed.debug = withRequest && parser.isSet(debug);
    parsed.plist = withPlist && parser.isSet(plist);
    if (withRequest) parsed.requestFile = parser.value(request);
    return parsed;
}

QString takeListOrName(const char* command, const QString& action, QStringList* rest,
                       QString* name) {
    if (action == u"list")
        return rest->isEmpty()
                   ? QString()
                   : QStringLiteral("\"%1 list\" takes no arguments").arg(QLatin1String(command));
    if (rest->isEmpty()) return QStringLiteral("no %1 name given").arg(QLatin1String(command));
    *name = rest->takeFirst();
    if (name->isEmpty())
        return QStringLiteral("a %1 name cannot be empty").arg(QLatin1String(command));
    return {};
}

RequestInput buildRequest(const QStringList& positional, const Parsed& parsed) {
    RequestInput in;
    QStringList assignments = positional;
    const Operation* op = nullptr;
    if (!assignments.isEmpty() && !assignments.first().contains(u'=')) {
        in.operationName = assignments.takeFirst();
        op = OperationCatalog::find(in.operationName);
        if (!op) {
            in.unknownOperation = true;
            return in;
        }
    }
    QVariantMap base;
    if (!parsed.requestFile.isEmpty()) {
        auto file = RequestBuilder::readRequestFile(parsed.requestFile, &in.error);
        if (!file) return in;
        base = *file;
        if (!op) {
            in.operationName = base.value(QLatin1String(kIdentifierKey)).toString();
            op = OperationCatalog::find(in.operationName);
            if (!op && !in.operationName.isEmpty()) {
                in.unknownOperation = true;
                return in;
            }
        }
    }
    if (!op) {
        in.error = QStringLiteral("no operation given");
        return in;
    }
    in.request =
        RequestBuilder::build(op, base, assignments, parsed.debug, &in.error, &in.warnings);
    return in;
}

int statusOfRun(const RunOutcome& outcome) {
    if (!outcome.startError.isEmpty()) return CommandLine::kExitUnavailable;
    if (outcome.signal) return 128 + outcome.signal;
    if (outcome.exitStatus != 0) return outcome.exitStatus;
    return outcome.succeeded() ? 0 : CommandLine::kExitProtocol;
}

}  // namespace varno
