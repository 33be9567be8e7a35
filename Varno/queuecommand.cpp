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

int CommandLine::queueCommand(const QStringList& args) {
    QString error;
    auto parsed = parseArguments(args, true, true, &error);
    if (!parsed) return usageError(kQueueUsage, error);
    if (parsed->help) {
        print(QString::fromLatin1(kQueueUsage) + u'\n' + QString::fromLatin1(kQueueHelp));
        return 0;
    }
    QStringList rest = parsed->positional;
    if (rest.isEmpty()) return usageError(kQueueUsage, QStringLiteral("no queue command given"));
    const QString action = rest.takeFirst();
    const bool addsRequest = action == u"add";
    if (!addsRequest && (parsed->debug || !parsed->requestFile.isEmpty()))
        return usageError(kQueueUsage,
                          QStringLiteral("--debug and --request belong to \"queue add\""));
    if (action != u"run" && parsed->plist)
        return usageError(kQueueUsage, QStringLiteral("--plist belongs to \"queue run\""));
    QueueStore store;
    StoreError storeError;

    if (action == u"list") {
        if (!rest.isEmpty())
            return usageError(kQueueUsage, QStringLiteral("\"queue list\" takes no arguments"));
        auto queues = store.queues(&storeError);
        if (!queues) return storeFailure(storeError);
        if (queues->isEmpty()) print(QStringLiteral("No queues in %1\n").arg(preferencesPath()));
        for (auto it = queues->begin(); it != queues->end(); ++it)
            print(QStringLiteral("%1  (%2 %3)\n")
                      .arg(it.key())
                      .arg(it.value().size())
                      .arg(it.value().size() == 1 ? "configuration" : "configurations"));
        return 0;
    }
    if (rest.isEmpty()) return usageError(kQueueUsage, QStringLiteral("no queue name given"));
    const QString name = rest.takeFirst();
    if (name.isEmpty())
        return usageError(kQueueUsage, QStringLiteral("a queue name cannot be empty"));

    if (action == u"show" || action == u"run") {
        if (!rest.isEmpty())
            return usageError(kQueueUsage,
                              QStringLiteral("\"queue %1\" takes one name").arg(action));
        auto queue = store.queue(name, &storeError);
        if (!queue) return storeFailure(storeError);
        if (action == u"show") {
            int n = 0;
            for (const QVariant& c : *queue)
                print(QStringLiteral("%1. %2\n").arg(++n).arg(describeConfiguration(c.toMap())));
            if (queue->isEmpty()) print(QStringLiteral("Queue \"%1\" is empty\n").arg(name));
            return 0;
        }
        QList<QVariantMap> requests;
        for (const QVariant& c : *queue) requests << c.toMap();
        if (requests.isEmpty()) {
            print(QStringLiteral("Queue \"%1\" is empty: nothing to run\n").arg(name));
            return 0;
        }
        QList<RunOutcome> outcomes;
        if (int status = runRequests(requests, parsed->plist, &outcomes)) return status;
        for (const RunOutcome& o : outcomes)
            if (!o.succeeded()) return kExitQueueFailed;
        return 0;
    }
    if (action == u"add") {
        if (rest.isEmpty() && parsed->requestFile.isEmpty())
            return usageError(kQueueUsage, QStringLiteral("no operation given"));
        RequestInput in = buildRequest(rest, *parsed);
        if (in.unknownOperation) return unknownOperation(kQueueUsage, in.operationName);
        if (!in.request) return usageError(kQueueUsage, in.error);
        for (const QString& w : in.warnings) printError(QStringLiteral("warning: ") + w);
        const int number = store.add(name, *in.request, &storeError);
        if (!number) return storeFailure(storeError);
        print(QStringLiteral("Added to queue \"%1\" as configuration %2: %3\n")
                  .arg(name)
                  .arg(number)
                  .arg(describeConfiguration(*in.request)));
        return 0;
    }
    if (action == u"remove") {
        int number = 0;
        if (rest.size() > 1)
            return usageError(kQueueUsage,
                              QStringLiteral("\"queue remove\" takes a name and a number"));
        if (rest.size() == 1 && !parseNumber(rest.first(), &number))
            return usageError(
                kQueueUsage, QStringLiteral("\"%1\" is no configuration number").arg(rest.first()));
        if (!store.remove(name, number, &storeError)) return storeFailure(storeError);
        print(number ? QStringLiteral("Removed configuration %1 from queue \"%2\"\n")
                           .arg(number)
                           .arg(name)
                     : QStringLiteral("Removed queue \"%1\"\n").arg(name));
        return 0;
    }
    return usageError(kQueueUsage, QStringLiteral("unknown queue command \"%1\"").arg(action));
}

}  // namespace varno
