#include "consoleview.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "operationcatalog.h"

namespace varno {

namespace {

// Length of the valid UTF-8 sequence at the start of s (overlong forms,
// surrogates and code points past U+10FFFF are invalid), or 0.
std::size_t utf8SequenceLength(std::string_view s) {
    auto in = [&](std::size_t i, unsigned char low, unsigned char high) {
        if (i >= s.size()) return false;
        const auto c = static_cast<unsigned char>(s[i]);
        return c >= low && c <= high;
    };
    const auto lead = static_cast<unsigned char>(s[0]);
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return in(1, 0x80, 0xBF) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        return in(1, low, high) && in(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return in(1, low, high) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

// Text as a terminal may receive it: valid UTF-8 as it is; a carriage return
// as \r and every other control character (C0, DEL, C1) and every byte that
// is not UTF-8 as \xHH, byte by byte. Line breaks and tabs stay when
// keepLayout; inside one field of a table they are shown as \n and \t.
QByteArray visible(std::string_view s, bool keepLayout) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(static_cast<qsizetype>(s.size()));
    auto escape = [&](char c) {
        const auto b = static_cast<unsigned char>(c);
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 15];
    };
    while (!s.empty()) {
        const auto c = static_cast<unsigned char>(s.front());
        const std::size_t n = utf8SequenceLength(s);
        if (n == 0) {
            escape(s.front());
            s.remove_prefix(1);
            continue;
        }
        if (n == 1 && (c < 0x20 || c == 0x7F)) {
            if (keepLayout && (c == '\n' || c == '\t'))
                out += static_cast<char>(c);
            else if (c == '\n')
                out += "\\n";
            else if (c == '\t')
                out += "\\t";
            else if (c == '\r')
                out += "\\r";
            else
                escape(s.front());
        } else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(s[1]) < 0xA0) {
            escape(s[0]);
            escape(s[1]);
        } else {
            out.append(s.data(), static_cast<qsizetype>(n));
        }
        s.remove_prefix(n);
    }
    return out;
}

QByteArray visible(QByteArrayView bytes, bool keepLayout) {
    return visible(std::string_view(bytes.data(), static_cast<size_t>(bytes.size())), keepLayout);
}

QString visible(const QString& text, bool keepLayout) {
    const QByteArray utf8 = text.toUtf8();
    return QString::fromUtf8(visible(QByteArrayView(utf8), keepLayout));
}

// One field of a table line.
QString field(const QString& text) {
    return visible(text, false);
}

int terminalWidth(std::FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
    return 80;
}

QString duration(double seconds) {
    const int s = static_cast<int>(std::lround(seconds));
    if (s < 60) return QStringLiteral("%1 s").arg(s);
    return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString percent(const QVariant& fraction) {
    const double d = fraction.toDouble();
    return d < 0 ? QStringLiteral("-") : QString::number(d * 100.0, 'f', 1);
}

QVariant entry(const QVariantMap& map, std::string_view key) {
    return map.value(contractText(key));
}

QStringList processLines(const QVariantMap& record) {
    namespace process = contract::process;
    QStringList lines;
    lines << QStringLiteral("  %1 %2 %3 %4  %5")
                 .arg(QStringLiteral("PID"), 7)
                 .arg(QStringLiteral("USER"), 6)
                 .arg(QStringLiteral("%CPU"), 6)
                 .arg(QStringLiteral("%MEM"), 6)
                 .arg(QStringLiteral("COMMAND"));
    for (const QVariant& v : entry(record, contract::kProcessesKey).toList()) {
        const QVariantMap p = v.toMap();
        lines << QStringLiteral("  %1 %2 %3 %4  %5")
                     .arg(entry(p, process::kPID).toLongLong(), 7)
                     .arg(entry(p, process::kEffectiveUser).toLongLong(), 6)
                     .arg(percent(entry(p, process::kPercentCPU)), 6)
                     .arg(percent(entry(p, process::kPercentMemory)), 6)
                     .arg(field(entry(p, process::kCommand).toString()));
    }
    return lines;
}

QStringList spotlightLines(const QVariantMap& record) {
    namespace spotlight = contract::spotlight;
    QStringList lines;
    for (const QVariant& v : entry(record, contract::kSpotlightVolumesKey).toList()) {
        const QVariantMap volume = v.toMap();
        QString line =
            QStringLiteral("  ") + field(entry(volume, spotlight::kMountPoint).toString());
        const QVariant size = entry(volume, spotlight::kIndexSize);
        if (size.isValid()) line += QStringLiteral(": index of %1").arg(humanSize(sizeValue(size)));
        if (entry(volume, spotlight::kSelfExcluded).toBool()) line += QStringLiteral(", private");
        lines << line;
        const QString status = entry(volume, spotlight::kIndexingStatus).toString();
        for (const QString& s : status.split(u'\n', Qt::SkipEmptyParts))
            lines << QStringLiteral("    ") + visible(s, true);
    }
    return lines;
}

// A few lines for the documents a person wants to read rather than count.
QStringList readableRecord(const QVariantMap& record) {
    const QString tag = record.value(QLatin1String(kRecordTagKey)).toString();
    if (tag == contractText(contract::id::kQueryProcesses)) return processLines(record);
    if (tag == contractText(contract::id::kQuerySpotlightInfo)) return spotlightLines(record);
    return {};
}

}  // namespace

ConsoleView::ConsoleView(std::FILE* out, std::FILE* err, bool terminal)
    : out_(out), err_(err), terminal_(terminal) {}

bool ConsoleView::isTerminal(std::FILE* stream) {
    const char* term = std::getenv("TERM");
    return isatty(fileno(stream)) && !(term && std::strcmp(term, "dumb") == 0);
}

void ConsoleView::write(std::FILE* stream, QByteArrayView bytes) {
    // Without a stream for the view (--plist), only standard error is written.
    if (!stream || bytes.isEmpty()) return;
    std::fwrite(bytes.data(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

void ConsoleView::writeLine(const QString& line) {
    write(out_, (line + u'\n').toUtf8());
}

void ConsoleView::operationStarted(const QString& identifier, double expectedIncrements) {
    identifier_ = identifier;
    title_ = OperationCatalog::titleFor(identifier);
    tracker_.reset(expectedIncrements);
    clock_.start();
    lastDraw_ = -1;
    lastPercent_ = -1;
    midLine_ = false;
    if (terminal_) {
        drawBar(true);
    } else {
        writeLine(title_ + QStringLiteral("..."));
    }
}

void ConsoleView::text(QByteArrayView bytes) {
    clearBar();
    write(out_, visible(bytes, true));
    midLine_ = !bytes.endsWith('\n');
    drawBar(false);
}

void ConsoleView::progress(double position, double total) {
    tracker_.update(position, total);
    if (terminal_) {
        drawBar(false);
        return;
    }
    auto f = tracker_.fraction();
    if (!f) return;
    const int percent = static_cast<int>(std::floor(*f * 100.0));
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    if (midLine_) write(out_, "\n");
    midLine_ = false;
    writeLine(QStringLiteral("%1%").arg(percent));
}

void ConsoleView::record(const QVariant& document, QByteArrayView raw) {
    const QVariantMap map = document.toMap();
    if (!map.contains(QLatin1String(kRecordTagKey))) {
        // A system tool's own output: show it as the tool wrote it.
        text(raw);
        return;
    }
    const QStringList lines = readableRecord(map);
    if (lines.isEmpty()) return;
    clearBar();
    if (midLine_) write(out_, "\n");
    midLine_ = false;
    write(out_, (lines.join(u'\n') + u'\n').toUtf8());
    drawBar(false);
}

void ConsoleView::truncatedRecord(QByteArrayView) {
    lostRecord(QStringLiteral("the executor's output ended inside a result record"));
}

void ConsoleView::lostRecord(const QString& problem) {
    clearBar();
    write(err_,
          QStringLiteral("Varno: %1 (%2): %3\n").arg(title_, field(identifier_), problem).toUtf8());
    drawBar(false);
}

void ConsoleView::diagnostic(QByteArrayView bytes) {
    clearBar();
    write(err_, visible(bytes, true));
    drawBar(false);
}

void ConsoleView::tick() {
    drawBar(false);
}

void ConsoleView::operationFinished(const RunOutcome& outcome) {
    if (outcome.succeeded()) tracker_.complete();
    if (terminal_) {
        drawBar(true);
        write(out_, "\n");
        barShown_ = false;
    } else {
        if (outcome.succeeded() && lastPercent_ >= 0 && lastPercent_ < 100) {
            if (midLine_) write(out_, "\n");
            writeLine(QStringLiteral("100%"));
        } else if (midLine_) {
            write(out_, "\n");
        }
    }
    midLine_ = false;
}

void ConsoleView::clearBar() {
    if (!terminal_ || !barShown_) return;
    write(out_, "\r\033[K");
    barShown_ = false;
}

void ConsoleView::drawBar(bool force) {
    if (!terminal_ || title_.isEmpty()) return;
    const qint64 now = clock_.elapsed();
    if (!force && barShown_ && lastDraw_ >= 0 && now - lastDraw_ < 100) return;
    lastDraw_ = now;
    if (midLine_) {
        // Text without its newline: the bar goes below it.
        write(out_, "\n");
        midLine_ = false;
    }
    write(out_, (QStringLiteral("\r\033[K") + barLine(terminalWidth(out_))).toUtf8());
    barShown_ = true;
}

QString ConsoleView::barLine(int width) const {
    const double elapsed = clock_.elapsed() / 1000.0;
    auto f = tracker_.fraction();
    QString tail;
    if (tracker_.isComplete()) {
        tail = QStringLiteral("100%  done in ") + duration(elapsed);
    } else if (f) {
        tail = QStringLiteral("%1%").arg(static_cast<int>(std::floor(*f * 100.0)), 3);
        if (auto left = tracker_.estimateRemaining(elapsed))
            tail += *left < 1.0
                        ? QStringLiteral("  almost done")
                        : QStringLiteral("  about ") + duration(*left) + QStringLiteral(" left");
    } else {
        tail = QStringLiteral("working, ") + duration(elapsed);
    }
    QString title = title_;
    const int room = width - 1 - static_cast<int>(tail.size()) - 5;
    if (title.size() > room / 2) title = title.left(std::max(room / 2, 8));
    const int barWidth = std::clamp(room - static_cast<int>(title.size()), 0, 40);
    QString bar(barWidth, u' ');
    if (f) {
        const int filled = static_cast<int>(std::floor(*f * barWidth));
        for (int i = 0; i < filled; ++i) bar[i] = u'#';
    } else if (barWidth >= 3) {
        // No measure of the work: a block that moves shows it goes on.
        const int at = static_cast<int>(clock_.elapsed() / 150) % (barWidth - 2);
        for (int i = 0; i < 3; ++i) bar[at + i] = u'=';
    }
    return title + QStringLiteral("  [") + bar + QStringLiteral("] ") + tail;
}

void ConsoleView::printSummary(const QList<RunOutcome>& outcomes) {
    clearBar();
    qint64 total = 0;
    bool anySize = false;
    int failed = 0;
    writeLine(QStringLiteral("Summary"));
    for (const RunOutcome& outcome : outcomes) {
        QStringList parts = describeResults(outcome);
        parts << endingText(outcome);
        writeLine(QStringLiteral("  %1: %2, in %3")
                      .arg(OperationCatalog::titleFor(outcome.identifier),
                           parts.join(QStringLiteral(", ")), duration(outcome.seconds)));
        if (outcome.reportsBytesRemoved()) {
            total = addSizes(total, outcome.bytesRemoved());
            anySize = true;
        }
        if (!outcome.succeeded()) ++failed;
    }
    QString last = QStringLiteral("  %1 %2")
                       .arg(outcomes.size())
                       .arg(outcomes.size() == 1 ? "operation" : "operations");
    last += failed ? QStringLiteral(", %1 failed").arg(failed) : QStringLiteral(", all succeeded");
    if (anySize) last += QStringLiteral("; %1 removed in all").arg(humanSize(total));
    writeLine(last);
}

}  // namespace varno
