#pragma once
// Splits the executor's output stream into its items: text lines, progress
// records and result records (whole property-list documents, found by their
// closing tag). Bytes arrive in arbitrary pieces; an item is delivered once
// it is complete. Pure C++, no property-list parsing: the caller decides what
// a record document means.

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
    };
    Kind kind = Kind::Text;
    // Text: the bytes as written. Record: from the XML declaration (or the
    // plist element) to the closing tag, with the newline after it when present.
    // Valid only during the sink call.
    std::string_view bytes;
    double position = 0;
    double total = 0;
};

inline constexpr std::string_view kProgressIdentifier = contract::kProgressIdentifier;

class RecordStreamParser {
  public:
    using Sink = std::function<void(const StreamItem&)>;

    explicit RecordStreamParser(Sink sink);

    // Takes the next bytes of the stream and delivers every item they complete.
    void feed(std::string_view bytes);
    // The stream has ended: delivers a final line without its newline, and a
    // document without its closing tag as a truncated record.
    void finish();

    // True while the parser holds the start of a document it has not seen the
    // end of.
    bool insideRecord() const { return state_ == State::InRecord; }

    // A line longer than this without a newline is delivered in pieces; a
    // document larger than this is given up and delivered as text.
    static constexpr std::size_t kMaxLine = 1 << 20;
    static constexpr std::size_t kMaxRecord = std::size_t{256} << 20;

  private:
    enum class State { Normal, Candidate, InRecord };
    enum class Prolog { Plist, NotPlist, NeedMore };

    void process(bool atEnd);
    bool processNormal(bool atEnd);
    bool processCandidate(bool atEnd);
    bool processRecord(bool atEnd);
    std::size_t findCandidate(std::size_t lineStart, std::size_t lineEnd) const;
    Prolog checkProlog(std::size_t& bodyStart) const;
    void emitLine(std::size_t start, std::size_t end);
    void emitText(std::size_t start, std::size_t end);
    void emitTruncated();
    void rejectCandidate();
    void compact();

    Sink sink_;
    std::string buf_;
    std::size_t pos_ = 0;  // first byte not yet delivered
    State state_ = State::Normal;
    std::size_t candidate_ = 0;      // where the document starts (Candidate, InRecord)
    std::size_t body_ = 0;           // just after the plist start tag (InRecord)
    std::size_t searchFrom_ = 0;     // where to look for the closing tag next
    std::size_t rejectedUntil_ = 0;  // candidates before this offset are text
};

}  // namespace varno
