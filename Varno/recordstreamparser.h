#pragma once
// Splits the executor's output stream into its items: text lines, progress
// records and result records (whole property-list documents, found by their
// closing tag). Bytes arrive in arbitrary pieces; an item is delivered once
// it is complete. Pure C++, no property-list parsing: the caller decides what
// a record document means.
//
// Names a user chose reach the stream inside text lines, so a record counts
// only where the executor writes one: a progress record is a whole line, and
// a result record starts a line with exactly the XML declaration line the
// executor writes, followed by the document type line. Anything else is text.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "contract/executor.h"

namespace varno {

struct StreamItem {
    enum class Kind {
        Text,             // one line with its newline, or a piece of text without one
        Progress,         // a progress record: position (or increment) and total
        Record,           // a complete property-list document
        TruncatedRecord,  // the start of a document the stream ended inside
        OversizedRecord,  // the start of a document over the size limit; the rest is skipped
    };
    Kind kind = Kind::Text;
    // Text: the bytes as written. Record: from the XML declaration to the
    // closing tag, with the newline after it when present. OversizedRecord:
    // at most the first kMaxRecordStart bytes of the document.
    // Valid only during the sink call.
    std::string_view bytes;
    double position = 0;
    double total = 0;
};

inline constexpr std::string_view kProgressIdentifier = contract::kProgressIdentifier;

class RecordStreamParser {
  public:
    using Sink = std::function<void(const StreamItem&)>;

    // A line longer than this without a newline is delivered in pieces; a
    // document larger than maxRecord is reported as oversized and skipped.
    static constexpr std::size_t kMaxLine = 1 << 20;
    static constexpr std::size_t kMaxRecord = std::size_t{256} << 20;
    static constexpr std::size_t kMaxRecordStart = 1024;

    explicit RecordStreamParser(Sink sink, std::size_t maxRecord = kMaxRecord);

    // Takes the next bytes of the stream and delivers every item they complete.
    void feed(std::string_view bytes);
    // The stream has ended: delivers a final line without its newline, and a
    // document without its closing tag as a truncated record.
    void finish();

    // True while the parser holds the start of a document it has not seen the
    // end of.
    bool insideRecord() const { return state_ != State::Normal; }

  private:
    enum class State { Normal, Prolog, InRecord, Skipping };

    void process(bool atEnd);
    bool processNormal(bool atEnd);
    bool processProlog(bool atEnd);
    bool processRecord(bool atEnd);
    bool processSkipping(bool atEnd);
    void startSkipping(std::size_t searchFrom);
    void emitLine(std::size_t end);
    void emitText(std::size_t start, std::size_t end);
    void emitTruncated();
    void compact();

    Sink sink_;
    std::size_t maxRecord_;
    std::string buf_;
    std::size_t pos_ = 0;  // first byte not yet delivered; a document's start outside Normal
    State state_ = State::Normal;
    bool lineStart_ = true;       // pos_ starts a line
    std::size_t searchFrom_ = 0;  // where to look for the closing tag next
};

}  // namespace varno
