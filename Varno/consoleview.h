#pragma once
// Shows runs to a person: text lines as they come, progress as a bar with
// the operation's name and an estimate on a terminal (plain "NN%" lines
// otherwise), and a closing summary.

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <cstdio>

#include "executorrunner.h"
#include "progresstracker.h"

namespace varno {

class ConsoleView : public RunObserver {
  public:
    // out may be null: then only diagnostics (on err) are shown.
    ConsoleView(std::FILE* out, std::FILE* err, bool terminal);

    void operationStarted(const QString& identifier, double expectedIncrements) override;
    void text(QByteArrayView bytes) override;
    void progress(double position, double total) override;
    void record(const QVariant& document, QByteArrayView raw) override;
    void truncatedRecord(QByteArrayView raw) override;
    void lostRecord(const QString& problem) override;
    void diagnostic(QByteArrayView bytes) override;
    void tick() override;
    void operationFinished(const RunOutcome& outcome) override;

    void printSummary(const QList<RunOutcome>& outcomes);

    // Whether a bar suits this stream: a terminal that is not "dumb".
    static bool isTerminal(std::FILE* stream);

  private:
    void write(std::FILE* stream, QByteArrayView bytes);
    void writeLine(const QString& line);
    void clearBar();
    void drawBar(bool force);
    QString barLine(int width) const;

    std::FILE* out_;
    std::FILE* err_;
    bool terminal_;
    QString identifier_;
    QString title_;
    ProgressTracker tracker_;
    QElapsedTimer clock_;
    qint64 lastDraw_ = -1;
    bool barShown_ = false;
    bool midLine_ = false;  // the last text lacked its newline
    int lastPercent_ = -1;
};

}  // namespace varno
