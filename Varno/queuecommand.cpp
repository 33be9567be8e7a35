// The queue commands: list, show, add, remove and run.
#include "commandline.h"
#include "commandsupport.h"
#include "operationcatalog.h"

namespace varno {

namespace {

const char kQueueUsage[] =
    "usage: Varno queue list | show NAME | add NAME OPERATION [KEY=VALUE ...] [--request FILE] "
    "[--debug] | remove NAME [NUMBER] | run NAME [--plist]";

const char kQueueHelp[] = R"(Queues of maintenance configurations, kept in the preferences domain
"com.kvxlabs.Varno2" of the current user under the system root.

  queue list                        the queues and their sizes
  queue show NAME                   a queue's configurations, as arguments
  queue add NAME OPERATION [KEY=VALUE ...] [--request FILE] [--debug]
                                    append a configuration (makes the queue)
  queue remove NAME [NUMBER]        remove a configuration, or the queue
  queue run NAME [--plist]          run every configuration, one after another

A failing configuration is reported and the queue goes on; "queue run" ends
with 0 when every configuration succeeded and 1 otherwise.
)";

// KEY=VALUE arguments that give the value again.
QStringList assignmentsFor(const QString& key, const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::Bool:
            return {key + (value.toBool() ? QStringLiteral("=true") : QStringLiteral("=false"))};
        case QMetaType::QString: {
            QString text = value.toString();
            return {key + u'=' + text.replace(u',', QStringLiteral("\\,"))};
        }
        case QMetaType::QVariantList: {
            QStringList parts;
            for (const QVariant& v : value.toList())
                parts << v.toString().replace(u',', QStringLiteral("\\,"));
            return {key + u'=' + parts.join(u',')};
        }
        case QMetaType::QVariantMap: {
            QStringList out;
            const QVariantMap map = value.toMap();
            for (auto it = map.begin(); it != map.end(); ++it)
                out << assignmentsFor(key + u'.' + it.key(), it.value());
            return out;
        }
        default:
            return {key + u'=' + value.toString()};
    }
}

QString describeConfiguration(const QVariantMap& configuration) {
    const QString identifier = configuration.value(QLatin1String(kIdentifierKey)).toString();
    const Operation* op = OperationCatalog::find(identifier);
    QStringList words{op ? QString::fromLatin1(op->alias) : identifier};
    for (auto it = configuration.begin(); it != configuration.end(); ++it) {
        if (it.key() == QLatin1String(kIdentifierKey)) continue;
        if (it.key() == QLatin1String(kDebugKey)) {
            if (it.value().toBool()) words << QStringLiteral("--debug");
            continue;
        }
        words << assignmentsFor(it.key(), it.value());
    }
    return words.join(u' ');
}

bool parseNumber(const QString& text, int* number) {
    bool ok = false;
    *number = text.toInt(&ok);
    return ok && *number >= 1;
}

}  // namespace

// What "queue" was asked to do, checked.
struct QueueOptions {
    Parsed parsed;
    QString action;
    QString name;
    QStringList rest;  // after the name
    int number = 0;    // "queue remove": the configuration, or 0 for the queue
};

namespace {

// The words after "queue", in the order their errors are told; an error, or "".
QString readQueueWords(QueueOptions* o) {
    const Parsed& parsed = o->parsed;
    QStringList rest = parsed.positional;
    if (rest.isEmpty()) return QStringLiteral("no queue command given");
    o->action = rest.takeFirst();
    if (o->action != u"add" && (parsed.debug || !parsed.requestFile.isEmpty()))
        return QStringLiteral("--debug and --request belong to \"queue add\"");
    if (o->action != u"run" && parsed.plist)
        return QStringLiteral("--plist belongs to \"queue run\"");
    const QString error = takeListOrName("queue", o->action, &rest, &o->name);
    if (!error.isEmpty() || o->action == u"list") return error;
    o->rest = rest;
    if (o->action == u"show" || o->action == u"run")
        return rest.isEmpty() ? QString()
                              : QStringLiteral("\"queue %1\" takes one name").arg(o->action);
    if (o->action == u"add")
        return rest.isEmpty() && parsed.requestFile.isEmpty() ? QStringLiteral("no operation given")
                                                              : QString();
    if (o->action != u"remove")
        return QStringLiteral("unknown queue command \"%1\"").arg(o->action);
    if (rest.size() > 1) return QStringLiteral("\"queue remove\" takes a name and a number");
    if (rest.size() == 1 && !parseNumber(rest.first(), &o->number))
        return QStringLiteral("\"%1\" is no configuration number").arg(rest.first());
    return {};
}

}  // namespace

int CommandLine::queueCommand(const QStringList& args) {
    QString error;
    auto parsed = parseArguments(args, true, true, &error);
    if (!parsed) return usageError(kQueueUsage, error);
    if (parsed->help) {
        print(QString::fromLatin1(kQueueUsage) + u'\n' + QString::fromLatin1(kQueueHelp));
        return 0;
    }
    QueueOptions options;
    options.parsed = *parsed;
    error = readQueueWords(&options);
    if (!error.isEmpty()) return usageError(kQueueUsage, error);
    if (options.action == u"list") return queueList();
    if (options.action == u"show") return queueShow(options.name);
    if (options.action == u"run") return runQueue(options.name, options.parsed.plist);
    if (options.action == u"add") return queueAdd(options);
    return queueRemove(options);
}

int CommandLine::queueList() {
    StoreError error;
    auto queues = QueueStore().queues(&error);
    if (!queues) return storeFailure(error);
    if (queues->isEmpty()) print(QStringLiteral("No queues in %1\n").arg(preferencesPath()));
    for (auto it = queues->begin(); it != queues->end(); ++it)
        print(QStringLiteral("%1  (%2 %3)\n")
                  .arg(it.key())
                  .arg(it.value().size())
                  .arg(it.value().size() == 1 ? "configuration" : "configurations"));
    return 0;
}

int CommandLine::queueShow(const QString& name) {
    StoreError error;
    auto queue = QueueStore().queue(name, &error);
    if (!queue) return storeFailure(error);
    int n = 0;
    for (const QVariant& c : *queue)
        print(QStringLiteral("%1. %2\n").arg(++n).arg(describeConfiguration(c.toMap())));
    if (queue->isEmpty()) print(QStringLiteral("Queue \"%1\" is empty\n").arg(name));
    return 0;
}

int CommandLine::runQueue(const QString& name, bool plist) {
    StoreError error;
    auto queue = QueueStore().queue(name, &error);
    if (!queue) return storeFailure(error);
    QList<QVariantMap> requests;
    for (const QVariant& c : *queue) requests << c.toMap();
    if (requests.isEmpty()) {
        print(QStringLiteral("Queue \"%1\" is empty: nothing to run\n").arg(name));
        return 0;
    }
    QList<RunOutcome> outcomes;
    if (int status = runRequests(requests, plist, &outcomes)) return status;
    for (const RunOutcome& o : outcomes)
        if (!o.succeeded()) return kExitQueueFailed;
    return 0;
}

int CommandLine::queueAdd(const QueueOptions& o) {
    RequestInput in = buildRequest(o.rest, o.parsed);
    if (in.unknownOperation) return unknownOperation(kQueueUsage, in.operationName);
    if (!in.request) return usageError(kQueueUsage, in.error);
    for (const QString& w : in.warnings) printError(QStringLiteral("warning: ") + w);
    StoreError error;
    const int number = QueueStore().add(o.name, *in.request, &error);
    if (!number) return storeFailure(error);
    print(QStringLiteral("Added to queue \"%1\" as configuration %2: %3\n")
              .arg(o.name)
              .arg(number)
              .arg(describeConfiguration(*in.request)));
    return 0;
}

int CommandLine::queueRemove(const QueueOptions& o) {
    StoreError error;
    if (!QueueStore().remove(o.name, o.number, &error)) return storeFailure(error);
    print(o.number ? QStringLiteral("Removed configuration %1 from queue \"%2\"\n")
                         .arg(o.number)
                         .arg(o.name)
                   : QStringLiteral("Removed queue \"%1\"\n").arg(o.name));
    return 0;
}

}  // namespace varno
