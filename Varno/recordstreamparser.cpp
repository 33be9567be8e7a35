#include "recordstreamparser.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace varno {

namespace {

constexpr std::string_view kDeclaration = "<?xml ";
constexpr std::string_view kDeclarationEnd = "?>";
constexpr std::string_view kDoctype = "<!DOCTYPE";
constexpr std::string_view kDoctypePlist = "<!DOCTYPE plist";
constexpr std::string_view kPlistOpen = "<plist";
constexpr std::string_view kPlistClose = "</plist>";
// How far the XML declaration and the document type may reach before the
// plist element starts; the serializer's own prolog is far shorter.
constexpr std::size_t kMaxProlog = 1024;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trimNewline(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

std::optional<double> parseNumber(std::string_view s) {
    double value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return value;
}

// "(position,total)" and nothing else.
bool parseProgressValues(std::string_view s, double& position, double& total) {
    if (s.size() < 5 || s.front() != '(' || s.back() != ')') return false;
    s = s.substr(1, s.size() - 2);
    std::size_t comma = s.find(',');
    if (comma == std::string_view::npos) return false;
    auto first = parseNumber(s.substr(0, comma));
    auto second = parseNumber(s.substr(comma + 1));
    if (!first || !second) return false;
    position = *first;
    total = *second;
    return true;
}

// A line that opens a plist element with nothing but markup after it, as a
// document without an XML declaration starts. A sentence that merely begins
// with the tag is text.
bool looksLikePlistStartLine(std::string_view line) {
    line = trimNewline(line);
    if (line.substr(0, kPlistOpen.size()) != kPlistOpen) return false;
    if (line.size() == kPlistOpen.size()) return false;
    char next = line[kPlistOpen.size()];
    if (next != '>' && !isSpace(next)) return false;
    std::size_t close = line.find('>');
    if (close == std::string_view::npos || line[close - 1] == '/') return false;
    std::string_view rest = line.substr(close + 1);
    while (!rest.empty() && isSpace(rest.front())) rest.remove_prefix(1);
    return rest.empty() || rest.front() == '<';
}

}  // namespace

RecordStreamParser::RecordStreamParser(Sink sink) : sink_(std::move(sink)) {}

void RecordStreamParser::feed(std::string_view bytes) {
    buf_.append(bytes);
    process(false);
}

void RecordStreamParser::finish() {
    process(true);
    buf_.clear();
    pos_ = 0;
    state_ = State::Normal;
    rejectedUntil_ = 0;
}

void RecordStreamParser::process(bool atEnd) {
    for (;;) {
        bool progressed = false;
        switch (state_) {
            case State::Normal:
                progressed = processNormal(atEnd);
                break;
            case State::Candidate:
                progressed = processCandidate(atEnd);
                break;
            case State::InRecord:
                progressed = processRecord(atEnd);
                break;
        }
        if (!progressed) break;
    }
    compact();
}

bool RecordStreamParser::processNormal(bool atEnd) {
    if (pos_ >= buf_.size()) return false;
    std::size_t newline = buf_.find('\n', pos_);
    std::size_t lineEnd;
    if (newline == std::string::npos) {
        if (!atEnd && buf_.size() - pos_ < kMaxLine) return false;
        lineEnd = buf_.size();
    } else {
        lineEnd = newline + 1;
    }
    std::size_t candidate = findCandidate(pos_, lineEnd);
    if (candidate != std::string::npos) {
        candidate_ = candidate;
        state_ = State::Candidate;
        return true;
    }
    emitLine(pos_, lineEnd);
    pos_ = lineEnd;
    return true;
}

std::size_t RecordStreamParser::findCandidate(std::size_t lineStart, std::size_t lineEnd) const {
    std::string_view line(buf_.data() + lineStart, lineEnd - lineStart);
    std::size_t from = rejectedUntil_ > lineStart ? rejectedUntil_ - lineStart : 0;
    if (from >= line.size()) return std::string::npos;
    // A declaration may follow text that lacked its newline, so it counts
    // anywhere in the line, but only when it is complete on that line.
    for (std::size_t p = line.find(kDeclaration, from); p != std::string_view::npos;
         p = line.find(kDeclaration, p + 1)) {
        if (line.find(kDeclarationEnd, p + kDeclaration.size()) != std::string_view::npos)
            return lineStart + p;
    }
    if (from == 0 &&
        (line.substr(0, kDoctypePlist.size()) == kDoctypePlist || looksLikePlistStartLine(line)))
        return lineStart;
    return std::string::npos;
}

RecordStreamParser::Prolog RecordStreamParser::checkProlog(std::size_t& bodyStart) const {
    const Prolog short_ = Prolog::NeedMore;
    const std::size_t n = buf_.size();
    const std::size_t limit = candidate_ + kMaxProlog;
    std::string_view all(buf_);
    std::size_t i = candidate_;
    auto skipSpace = [&] {
        while (i < n && isSpace(buf_[i])) ++i;
    };
    // 1 when the text at i starts with s, 0 when it does not, -1 when the
    // bytes so far agree but are too few to tell.
    auto startsWith = [&](std::string_view s) {
        std::size_t avail = n - i;
        if (avail >= s.size()) return all.substr(i, s.size()) == s ? 1 : 0;
        return all.substr(i) == s.substr(0, avail) ? -1 : 0;
    };

    if (startsWith(kDeclaration) == 1) {
        std::size_t end = all.find(kDeclarationEnd, i);
        if (end == std::string_view::npos) return n > limit ? Prolog::NotPlist : short_;
        if (end > limit) return Prolog::NotPlist;
        i = end + kDeclarationEnd.size();
        skipSpace();
    }
    if (i >= n) return i > limit ? Prolog::NotPlist : short_;
    int doctype = startsWith(kDoctype);
    if (doctype < 0) return short_;
    if (doctype == 1) {
        std::size_t end = all.find('>', i);
        if (end == std::string_view::npos) return n > limit ? Prolog::NotPlist : short_;
        if (end > limit) return Prolog::NotPlist;
        i = end + 1;
        skipSpace();
        if (i >= n) return i > limit ? Prolog::NotPlist : short_;
    }
    int open = startsWith(kPlistOpen);
    if (open < 0) return short_;
    if (open == 0 || i > limit) return Prolog::NotPlist;
    std::size_t afterName = i + kPlistOpen.size();
    if (afterName >= n) return short_;
    if (buf_[afterName] != '>' && !isSpace(buf_[afterName])) return Prolog::NotPlist;
    std::size_t tagEnd = all.find('>', afterName);
    if (tagEnd == std::string_view::npos) return n > limit ? Prolog::NotPlist : short_;
    // Judged the same whether the rest came in this read or a later one.
    if (tagEnd > limit) return Prolog::NotPlist;
    if (buf_[tagEnd - 1] == '/') return Prolog::NotPlist;  // an empty plist is no document
    bodyStart = tagEnd + 1;
    return Prolog::Plist;
}

bool RecordStreamParser::processCandidate(bool atEnd) {
    std::size_t body = 0;
    switch (checkProlog(body)) {
        case Prolog::NeedMore:
            // Everything so far agrees with a document's start.
            if (atEnd) emitTruncated();
            return atEnd;
        case Prolog::NotPlist:
            rejectCandidate();
            return true;
        case Prolog::Plist:
            break;
    }
    body_ = body;
    searchFrom_ = body;
    state_ = State::InRecord;
    return true;
}

bool RecordStreamParser::processRecord(bool atEnd) {
    std::size_t close = buf_.find(kPlistClose, searchFrom_);
    if (close == std::string::npos) {
        if (buf_.size() - candidate_ > kMaxRecord) {
            rejectCandidate();
            return true;
        }
        if (atEnd) {
            emitTruncated();
            return true;
        }
        // The closing tag may straddle the next piece.
        std::size_t keep = kPlistClose.size() - 1;
        searchFrom_ = std::max(body_, buf_.size() > keep ? buf_.size() - keep : 0);
        return false;
    }
    std::size_t end = close + kPlistClose.size();
    // The newline that ends the document belongs to it: wait for the byte
    // after the closing tag, so that a record reads the same however the
    // stream was cut into pieces.
    if (end == buf_.size() && !atEnd) {
        searchFrom_ = close;
        return false;
    }
    if (end < buf_.size() && buf_[end] == '\n') ++end;
    if (candidate_ > pos_) emitText(pos_, candidate_);
    StreamItem item;
    item.kind = StreamItem::Kind::Record;
    item.bytes = std::string_view(buf_).substr(candidate_, end - candidate_);
    sink_(item);
    pos_ = end;
    state_ = State::Normal;
    return true;
}

void RecordStreamParser::emitTruncated() {
    if (candidate_ > pos_) emitText(pos_, candidate_);
    StreamItem item;
    item.kind = StreamItem::Kind::TruncatedRecord;
    item.bytes = std::string_view(buf_).substr(candidate_);
    sink_(item);
    pos_ = buf_.size();
    state_ = State::Normal;
}

void RecordStreamParser::rejectCandidate() {
    // Read the line again as text; candidates up to this one no longer count.
    rejectedUntil_ = candidate_ + 1;
    state_ = State::Normal;
}

void RecordStreamParser::emitLine(std::size_t start, std::size_t end) {
    std::string_view line(buf_.data() + start, end - start);
    std::string_view body = trimNewline(line);
    std::size_t at = body.substr(0, kProgressIdentifier.size()) == kProgressIdentifier
                         ? 0
                         : body.find(kProgressIdentifier);
    if (at != std::string_view::npos) {
        StreamItem item;
        item.kind = StreamItem::Kind::Progress;
        if (parseProgressValues(body.substr(at + kProgressIdentifier.size()), item.position,
                                item.total)) {
            // Text that lacked its newline comes first, on its own.
            if (at > 0) emitText(start, start + at);
            item.bytes = line.substr(at);
            sink_(item);
            return;
        }
    }
    emitText(start, end);
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
    if (state_ != State::Normal) {
        candidate_ -= pos_;
        body_ = body_ >= pos_ ? body_ - pos_ : 0;
        searchFrom_ = searchFrom_ >= pos_ ? searchFrom_ - pos_ : 0;
    }
    rejectedUntil_ = rejectedUntil_ > pos_ ? rejectedUntil_ - pos_ : 0;
    pos_ = 0;
}

}  // namespace varno
