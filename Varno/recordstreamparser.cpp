#include "recordstreamparser.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace varno {

namespace {

// The prolog exactly as the executor's serializer writes it.
constexpr std::string_view kDeclarationLine = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr std::string_view kDoctypeLine =
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";
constexpr std::string_view kPlistClose = "</plist>";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A value as "%.2f" writes it: an optional minus, digits, a period and two
// digits; nothing else.
std::optional<double> parseValue(std::string_view s) {
    std::size_t i = !s.empty() && s.front() == '-' ? 1 : 0;
    const std::size_t firstDigit = i;
    while (i < s.size() && isDigit(s[i])) ++i;
    if (i == firstDigit || s.size() != i + 3 || s[i] != '.' || !isDigit(s[i + 1]) ||
        !isDigit(s[i + 2]))
        return std::nullopt;
    double value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

// The identifier, "(position,total)" and the newline (absent only at the
// end of the stream), and nothing else.
bool parseProgress(std::string_view line, double& position, double& total) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (line.substr(0, kProgressIdentifier.size()) != kProgressIdentifier) return false;
    line.remove_prefix(kProgressIdentifier.size());
    if (line.size() < 2 || line.front() != '(' || line.back() != ')') return false;
    line = line.substr(1, line.size() - 2);
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) return false;
    auto first = parseValue(line.substr(0, comma));
    auto second = parseValue(line.substr(comma + 1));
    if (!first || !second) return false;
    position = *first;
    total = *second;
    return true;
}

}  // namespace

RecordStreamParser::RecordStreamParser(Sink sink, std::size_t maxRecord)
    : sink_(std::move(sink)), maxRecord_(maxRecord) {}

void RecordStreamParser::feed(std::string_view bytes) {
    buf_.append(bytes);
    process(false);
}

void RecordStreamParser::finish() {
    process(true);
    buf_.clear();
    pos_ = 0;
    state_ = State::Normal;
    lineStart_ = true;
    searchFrom_ = 0;
}

void RecordStreamParser::process(bool atEnd) {
    for (;;) {
        bool progressed = false;
        switch (state_) {
            case State::Normal:
                progressed = processNormal(atEnd);
                break;
            case State::Prolog:
                progressed = processProlog(atEnd);
                break;
            case State::InRecord:
                progressed = processRecord(atEnd);
                break;
            case State::Skipping:
                progressed = processSkipping(atEnd);
                break;
        }
        if (!progressed) break;
    }
    compact();
}

bool RecordStreamParser::processNormal(bool atEnd) {
    if (pos_ >= buf_.size()) return false;
    const std::size_t newline = buf_.find('\n', pos_);
    std::size_t end;
    if (newline == std::string::npos) {
        if (!atEnd && buf_.size() - pos_ < kMaxLine) return false;
        end = buf_.size();
    } else {
        end = newline + 1;
    }
    if (lineStart_ && std::string_view(buf_).substr(pos_, end - pos_) == kDeclarationLine) {
        state_ = State::Prolog;
        return true;
    }
    emitLine(end);
    return true;
}

bool RecordStreamParser::processProlog(bool atEnd) {
    const std::size_t doctype = pos_ + kDeclarationLine.size();
    const std::string_view have = std::string_view(buf_).substr(doctype, kDoctypeLine.size());
    if (have != kDoctypeLine.substr(0, have.size())) {
        // A line that reads like the declaration and nothing more.
        emitText(pos_, doctype);
        pos_ = doctype;
        lineStart_ = true;
        state_ = State::Normal;
        return true;
    }
    if (have.size() < kDoctypeLine.size()) {
        if (atEnd) emitTruncated();
        return atEnd;
    }
    searchFrom_ = doctype + kDoctypeLine.size();
    state_ = State::InRecord;
    return true;
}

bool RecordStreamParser::processRecord(bool atEnd) {
    const std::size_t close = buf_.find(kPlistClose, searchFrom_);
    if (close == std::string::npos) {
        // The document will be longer than what is here: judged the same
        // whatever the pieces.
        if (buf_.size() - pos_ >= maxRecord_) {
            startSkipping(buf_.size());
            return true;
        }
        if (atEnd) {
            emitTruncated();
            return true;
        }
        // The closing tag may straddle the next piece.
        const std::size_t keep = kPlistClose.size() - 1;
        searchFrom_ = std::max(searchFrom_, buf_.size() > keep ? buf_.size() - keep : 0);
        return false;
    }
    std::size_t end = close + kPlistClose.size();
    if (end - pos_ > maxRecord_) {
        startSkipping(close);
        return true;
    }
    // The newline that ends the document belongs to it: wait for the byte
    // after the closing tag, so that a record reads the same however the
    // stream was cut into pieces.
    if (end == buf_.size() && !atEnd) {
        searchFrom_ = close;
        return false;
    }
    lineStart_ = end < buf_.size() && buf_[end] == '\n';
    if (lineStart_) ++end;
    StreamItem item;
    item.kind = StreamItem::Kind::Record;
    item.bytes = std::string_view(buf_).substr(pos_, end - pos_);
    sink_(item);
    pos_ = end;
    state_ = State::Normal;
    return true;
}

void RecordStreamParser::startSkipping(std::size_t searchFrom) {
    StreamItem item;
    item.kind = StreamItem::Kind::OversizedRecord;
    item.bytes = std::string_view(buf_).substr(pos_, kMaxRecordStart);
    sink_(item);
    const std::size_t keep = kPlistClose.size() - 1;
    searchFrom_ = std::max(pos_, std::min(searchFrom, buf_.size() > keep ? buf_.size() - keep : 0));
    state_ = State::Skipping;
}

bool RecordStreamParser::processSkipping(bool atEnd) {
    const std::size_t close = buf_.find(kPlistClose, searchFrom_);
    if (close == std::string::npos) {
        // Nothing of the document is kept but what may start its closing tag.
        const std::size_t keep = kPlistClose.size() - 1;
        pos_ = std::max(pos_, buf_.size() > keep ? buf_.size() - keep : 0);
        searchFrom_ = pos_;
        if (!atEnd) return false;
        pos_ = buf_.size();
        state_ = State::Normal;
        return true;
    }
    std::size_t end = close + kPlistClose.size();
    if (end == buf_.size() && !atEnd) {
        pos_ = close;
        searchFrom_ = close;
        return false;
    }
    lineStart_ = end < buf_.size() && buf_[end] == '\n';
    pos_ = lineStart_ ? end + 1 : end;
    state_ = State::Normal;
    return true;
}

void RecordStreamParser::emitTruncated() {
    StreamItem item;
    item.kind = StreamItem::Kind::TruncatedRecord;
    item.bytes = std::string_view(buf_).substr(pos_);
    sink_(item);
    pos_ = buf_.size();
    state_ = State::Normal;
}

void RecordStreamParser::emitLine(std::size_t end) {
    const std::string_view line(buf_.data() + pos_, end - pos_);
    StreamItem item;
    if (lineStart_ && parseProgress(line, item.position, item.total)) {
        item.kind = StreamItem::Kind::Progress;
        item.bytes = line;
        sink_(item);
    } else {
        emitText(pos_, end);
    }
    lineStart_ = line.back() == '\n';
    pos_ = end;
}

void RecordStreamParser::emitText(std::size_t start, std::size_t end) {
    StreamItem item;
    item.kind = StreamItem::Kind::Text;
    item.bytes = std::string_view(buf_.data() + start, end - start);
    sink_(item);
}

void RecordStreamParser::compact() {
    if (pos_ == 0) return;
    buf_.erase(0, pos_);
    searchFrom_ = searchFrom_ >= pos_ ? searchFrom_ - pos_ : 0;
    pos_ = 0;
}

}  // namespace varno
