#include "executorrunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <cstdint>

#include "app/plistbridge.h"
#include "contract/executor.h"
#include "operationcatalog.h"
#include "plist/plist.h"
#include "recordstreamparser.h"
#include "signalpipe.h"

namespace varno {

namespace {

// Text as a property-list string can carry it: valid UTF-8 without the
// control characters XML refuses.
QString storableText(std::string_view bytes) {
    QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    for (QChar& c : text) {
        if (c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') c = QChar(0xFFFD);
    }
    return text;
}

QByteArrayView view(std::string_view bytes) {
    return QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Delivers the parser's items to the outcome and the observer.
class ItemCollector {
  public:
    ItemCollector(RunOutcome& outcome, RunObserver* observer)
        : outcome_(outcome), observer_(observer) {}

    void operator()(const StreamItem& item) {
        switch (item.kind) {
            case StreamItem::Kind::Text:
                text(item.bytes);
                break;
            case StreamItem::Kind::Progress:
                outcome_.items.append(
                    QVariantMap{{QStringLiteral("Kind"), QStringLiteral("Progress")},
                                {QStringLiteral("Position"), item.position},
                                {QStringLiteral("Total"), item.total}});
                if (observer_) observer_->progress(item.position, item.total);
                break;
            case StreamItem::Kind::Record: {
                plist::ParseError error;
                auto value = plist::parse(item.bytes, &error);
                if (!value) {
                    lost(QStringLiteral("a result record could not be read (%1)")
                             .arg(QString::fromStdString(error.message)),
                         item.bytes);
                    break;
                }
                QVariant document = app::variantFromPlist(*value);
                outcome_.records.append(document);
                outcome_.items.append(
                    QVariantMap{{QStringLiteral("Kind"), QStringLiteral("Record")},
                                {QStringLiteral("Record"), document}});
                if (observer_) observer_->record(document, view(item.bytes));
                break;
            }
            case StreamItem::Kind::OversizedRecord:
                lost(QStringLiteral("a result record over Varno's limit of %1 was skipped")
                         .arg(humanSize(RecordStreamParser::kMaxRecord)),
                     item.bytes);
                break;
            case StreamItem::Kind::TruncatedRecord:
                outcome_.truncated = true;
                outcome_.items.append(
                    QVariantMap{{QStringLiteral("Kind"), QStringLiteral("TruncatedRecord")},
                                {QStringLiteral("Text"), storableText(item.bytes)}});
                if (observer_) observer_->truncatedRecord(view(item.bytes));
                break;
        }
    }

    // After the stream: an operation that always writes a record and ended
    // well without one has lost it.
    void checkRecordWritten() {
        if (!outcome_.succeeded()) return;
        const QByteArray identifier = outcome_.identifier.toUtf8();
        const std::string_view expected = contract::alwaysWrittenRecordTag(
            std::string_view(identifier.constData(), identifier.size()));
        if (expected.empty()) return;
        const QString tag = QString::fromLatin1(expected.data(), qsizetype(expected.size()));
        for (const QVariant& record : outcome_.records)
            if (record.toMap().value(QLatin1String(kRecordTagKey)).toString() == tag) return;
        lost(QStringLiteral("the executor wrote no result record"), {});
    }

  private:
    void lost(const QString& problem, std::string_view bytes) {
        outcome_.lostRecords.append(problem);
        if (!bytes.empty())
            outcome_.items.append(
                QVariantMap{{QStringLiteral("Kind"), QStringLiteral("LostRecord")},
                            {QStringLiteral("Problem"), problem},
                            {QStringLiteral("Text"), storableText(bytes)}});
        if (observer_) observer_->lostRecord(problem);
    }

    void text(std::string_view bytes) {
        outcome_.items.append(QVariantMap{{QStringLiteral("Kind"), QStringLiteral("Text")},
                                          {QStringLiteral("Text"), storableText(bytes)}});
        if (observer_) observer_->text(view(bytes));
    }

    RunOutcome& outcome_;
    RunObserver* observer_;
};

QByteArray frame(const QByteArray& form, const QByteArray& document) {
    const std::uint64_t length = static_cast<std::uint64_t>(document.size());
    QByteArray input = form;
    input.append(reinterpret_cast<const char*>(&length), sizeof length);
    input.append(document);
    return input;
}

// One executor process: started with its input, its output parsed as it
// comes, waited for until it has ended and its stream is read to the end.
class ExecutorProcess {
  public:
    ExecutorProcess(RunOutcome& outcome, RunObserver* observer)
        : outcome_(outcome),
          observer_(observer),
          collector_(outcome, observer),
          parser_(std::ref(collector_)) {}

    void run(const QString& executor, const QByteArray& input) {
        connectProcess(executor);
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, &ticker, [this] {
            if (observer_) observer_->tick();
        });
        process_.setProgram(executor);
        process_.setArguments({});
        process_.start(QIODevice::ReadWrite);
        process_.write(input);
        process_.closeWriteChannel();
        ticker.start(200);
        if (!done_) loop_.exec();
        ticker.stop();

        readOutput();
        readErrors();
        parser_.finish();
        collector_.checkRecordWritten();
    }

  private:
    void connectProcess(const QString& executor) {
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, &process_,
                         [this] { readOutput(); });
        QObject::connect(&process_, &QProcess::readyReadStandardError, &process_,
                         [this] { readErrors(); });
        QObject::connect(&process_, &QProcess::finished, &process_,
                         [this](int code, QProcess::ExitStatus status) { finished(code, status); });
        QObject::connect(&process_, &QProcess::errorOccurred, &process_,
                         [this, executor](QProcess::ProcessError e) {
                             // A write error only means the executor stopped reading its
                             // input early; its output and status tell why.
                             if (e == QProcess::FailedToStart) notStarted(executor);
                         });
        // Ctrl-C reaches the executor too; a signal sent to Varno alone is
        // passed on, so that it never runs on unwatched.
        QObject::connect(SignalPipe::instance(), &SignalPipe::signalReceived, &process_,
                         [this](int) {
                             if (process_.state() != QProcess::NotRunning) process_.terminate();
                         });
    }

    void readOutput() {
        const QByteArray bytes = process_.readAllStandardOutput();
        if (!bytes.isEmpty()) parser_.feed(std::string_view(bytes.constData(), bytes.size()));
    }

    void readErrors() {
        const QByteArray bytes = process_.readAllStandardError();
        if (!bytes.isEmpty() && observer_) observer_->diagnostic(bytes);
    }

    void finished(int code, QProcess::ExitStatus status) {
        if (status == QProcess::CrashExit) {
            outcome_.signal = code;  // QProcess reports the signal as the code
        } else {
            outcome_.exitStatus = code;
        }
        end();
    }

    void notStarted(const QString& executor) {
        outcome_.startError = QStringLiteral("%1: %2").arg(executor, process_.errorString());
        end();
    }

    void end() {
        done_ = true;
        loop_.quit();
    }

    RunOutcome& outcome_;
    RunObserver* observer_;
    ItemCollector collector_;
    RecordStreamParser parser_;
    QProcess process_;
    QEventLoop loop_;
    bool done_ = false;
};

}  // namespace

ExecutorRunner::ExecutorRunner(const QString& executorPath, const QByteArray& authorizationForm,
                               RunObserver* observer, QObject* parent)
    : QObject(parent), executorPath_(executorPath), form_(authorizationForm), observer_(observer) {}

QString ExecutorRunner::defaultExecutorPath() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/varnoTool");
}

RunOutcome ExecutorRunner::run(const QVariantMap& request) {
    RunOutcome outcome;
    outcome.identifier = request.value(QLatin1String(kIdentifierKey)).toString();
    const Operation* op = OperationCatalog::find(outcome.identifier);
    if (observer_)
        observer_->operationStarted(outcome.identifier, op ? op->expectedIncrements(request) : 0);

    QString error;
    auto value = app::plistFromVariant(request, &error);
    if (!value) {
        outcome.startError = error;
        if (observer_) observer_->operationFinished(outcome);
        return outcome;
    }
    const std::string xml = plist::writeXML(*value);
    QElapsedTimer clock;
    clock.start();
    ExecutorProcess(outcome, observer_)
        .run(executorPath_,
             frame(form_, QByteArray(xml.data(), static_cast<qsizetype>(xml.size()))));
    outcome.seconds = clock.elapsed() / 1000.0;
    if (observer_) observer_->operationFinished(outcome);
    return outcome;
}

}  // namespace varno
