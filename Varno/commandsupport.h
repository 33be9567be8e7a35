#pragma once
// What Varno's commands share: option parsing, request building from the
// arguments, statuses of runs; and the stores they use.

#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <optional>

#include "queuestore.h"
#include "runoutcome.h"
#include "schedulestore.h"

namespace varno {

struct Parsed {
    QStringList positional;
    bool help = false;
    bool debug = false;
    bool plist = false;
    QString requestFile;
};

// Options are allowed anywhere among the arguments; --debug and --request
// only withRequest, --plist only withPlist.
std::optional<Parsed> parseArguments(const QStringList& args, bool withRequest, bool withPlist,
                                     QString* error);

// After "<command> <action>": a list takes nothing more, every other action
// begins with a name that cannot be empty (taken from *rest into *name).
// The usage error, or "".
QString takeListOrName(const char* command, const QString& action, QStringList* rest,
                       QString* name);

// The request from an operation argument, assignments and a request file.
struct RequestInput {
    std::optional<QVariantMap> request;
    QString error;
    bool unknownOperation = false;
    QString operationName;
    QStringList warnings;
};

RequestInput buildRequest(const QStringList& positional, const Parsed& parsed);

// Varno's exit status for one run: the executor's, 128 + a signal that
// ended it, 69 when it could not be started, or 76 when it ended with 0 but
// a result record was lost.
int statusOfRun(const RunOutcome& outcome);

}  // namespace varno
