// The XML reader: expat tokenizes, this file applies the platform's rules on
// top (which elements, which texts, what nests where) and refuses anything
// that could make a small document expensive.

#include <expat.h>

#include <locale.h>
#include <algorithm>
#include <climits>
#include <clocale>
#include <cstdlib>

#include "plist/plist.h"
#include "text.h"

namespace plist {

namespace {

enum class Tag { Plist, Array, Dict, Key, String, Integer, Real, True, False, Date, Data };

std::optional<Tag> tagNamed(std::string_view name) {
    static constexpr std::pair<std::string_view, Tag> kTags[] = {
        {"plist", Tag::Plist}, {"array", Tag::Array},   {"dict", Tag::Dict},
        {"key", Tag::Key},     {"string", Tag::String}, {"integer", Tag::Integer},
        {"real", Tag::Real},   {"true", Tag::True},     {"false", Tag::False},
        {"date", Tag::Date},   {"data", Tag::Data},
    };
    for (const auto& [n, t] : kTags) {
        if (n == name) return t;
    }
    return std::nullopt;
}

const char* tagName(Tag t) {
    static constexpr const char* kNames[] = {"plist", "array", "dict",  "key",  "string", "integer",
                                             "real",  "true",  "false", "date", "data"};
    return kNames[static_cast<int>(t)];
}

bool isContainer(Tag t) {
    return t == Tag::Plist || t == Tag::Array || t == Tag::Dict;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Names from the document go into messages shortened.
std::string shown(std::string_view s) {
    return s.size() > 40 ? std::string(s.substr(0, 40)) + "..." : std::string(s);
}

std::optional<Integer> integerFromText(std::string_view t) {
    std::size_t i = 0;
    while (i < t.size() && isSpace(t[i])) ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    while (i < t.size() && isSpace(t[i])) ++i;
    unsigned base = 10;
    if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == t.size()) return std::nullopt;
    std::uint64_t magnitude = 0;
    for (; i < t.size(); ++i) {
        const char c = t[i];
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (magnitude > (UINT64_MAX - digit) / base) return std::nullopt;
        magnitude = magnitude * base + digit;
    }
    if (!negative) return *Value::unsignedInteger(magnitude).asIntegerValue();
    if (magnitude > static_cast<std::uint64_t>(INT64_MAX) + 1) return std::nullopt;
    return Integer{static_cast<std::int64_t>(0 - magnitude), false};
}

std::optional<double> realFromText(const std::string& t) {
    // strtod in the C locale whatever the process's locale: a preference
    // file must read the same in every language.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    if (t.empty() || !cLocale) return std::nullopt;
    char* end = nullptr;
    const double d = strtod_l(t.c_str(), &end, cLocale);
    if (end == t.c_str() || end != t.c_str() + t.size()) return std::nullopt;
    return d;
}

// Reads a fixed number of digits.
bool digits(std::string_view t, std::size_t& i, int count, int& out) {
    out = 0;
    for (int k = 0; k < count; ++k, ++i) {
        if (i >= t.size() || t[i] < '0' || t[i] > '9') return false;
        out = out * 10 + (t[i] - '0');
    }
    return true;
}

bool expect(std::string_view t, std::size_t& i, char c) {
    if (i >= t.size() || t[i] != c) return false;
    ++i;
    return true;
}

// Y...-MM-DDTHH:MM:SSZ, years as long as they are in range (and a leading
// '-' for years before year 0, which the writer produces for them).
std::optional<double> dateFromText(std::string_view t) {
    std::size_t i = 0;
    const bool negative = !t.empty() && t[0] == '-';
    if (negative) ++i;
    const std::size_t yearStart = i;
    std::int64_t year = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9' && i - yearStart < 7) {
        year = year * 10 + (t[i++] - '0');
    }
    detail::CivilTime c;
    c.year = negative ? -year : year;
    if (i == yearStart || !expect(t, i, '-') || !digits(t, i, 2, c.month) || !expect(t, i, '-') ||
        !digits(t, i, 2, c.day) || !expect(t, i, 'T') || !digits(t, i, 2, c.hour) ||
        !expect(t, i, ':') || !digits(t, i, 2, c.minute) || !expect(t, i, ':') ||
        !digits(t, i, 2, c.second) || !expect(t, i, 'Z') || i != t.size()) {
        return std::nullopt;
    }
    return detail::secondsFromCivil(c);
}

// Characters XML forbids but the platform's serializer writes raw inside
// strings. Before expat sees the document they are masked with '`' (same
// length, so positions agree); the text of an element is then taken from the
// original bytes. '`' is meaningless in markup, so a masked byte anywhere but
// in text, a comment or an attribute value is still an error.
std::size_t forbiddenAt(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20) return (c == '\t' || c == '\n' || c == '\r') ? 0 : 1;
    // U+FFFE and U+FFFF
    if (c == 0xEF && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
        (static_cast<unsigned char>(s[i + 2]) & 0xFE) == 0xBE) {
        return 3;
    }
    return 0;
}

// A copy of whole[from, from + n) with the forbidden characters masked, or
// nullopt when there are none. Scanning starts two bytes early so a sequence
// begun in the previous chunk is masked here too.
std::optional<std::string> masked(std::string_view whole, std::size_t from, std::size_t n) {
    std::optional<std::string> copy;
    const std::size_t end = from + n;
    for (std::size_t i = from >= 2 ? from - 2 : 0; i < end; ++i) {
        const std::size_t k = forbiddenAt(whole, i);
        if (k == 0) continue;
        const std::size_t first = std::max(i, from), last = std::min(i + k, end);
        if (first < last) {
            if (!copy) copy.emplace(whole.substr(from, n));
            copy->replace(first - from, last - first, last - first, '`');
        }
        i += k - 1;
    }
    return copy;
}

// True unless the document declares an encoding other than UTF-8 or ASCII (or
// is UTF-16): only then do positions in expat's input match our bytes.
bool isUtf8Document(std::string_view s) {
    if (s.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(s[0]), b1 = static_cast<unsigned char>(s[1]);
        if ((b0 == 0xFE && b1 == 0xFF) || (b0 == 0xFF && b1 == 0xFE) || b0 == 0 || b1 == 0) {
            return false;
        }
    }
    if (s.starts_with("\xEF\xBB\xBF")) s.remove_prefix(3);
    if (!s.starts_with("<?xml")) return true;
    const std::string_view decl = s.substr(0, s.find("?>"));
    const std::size_t at = decl.find("encoding");
    if (at == std::string_view::npos) return true;
    const std::size_t open = decl.find_first_of("\"'", at);
    if (open == std::string_view::npos) return true;
    const std::size_t close = decl.find(decl[open], open + 1);
    std::string name(decl.substr(open + 1, close == std::string_view::npos ? 0 : close - open - 1));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii";
}

class XMLReader {
  public:
    XMLReader(std::string_view input, int lineOffset) : input_(input), lineOffset_(lineOffset) {}
    XMLReader(const XMLReader&) = delete;
    XMLReader& operator=(const XMLReader&) = delete;
    ~XMLReader() {
        if (parser_) XML_ParserFree(parser_);
    }

    std::optional<Value> run(ParseError* error) {
        const bool utf8 = isUtf8Document(input_);
        parser_ = XML_ParserCreate(utf8 ? "UTF-8" : nullptr);
        if (!parser_) return failed(error, "out of memory");
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, &XMLReader::onStart, &XMLReader::onEnd);
        XML_SetCharacterDataHandler(parser_, &XMLReader::onText);
        XML_SetCdataSectionHandler(parser_, &XMLReader::onCdataStart, &XMLReader::onCdataEnd);
        XML_SetEntityDeclHandler(parser_, &XMLReader::onEntityDecl);
        XML_SetSkippedEntityHandler(parser_, &XMLReader::onSkippedEntity);
        XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);

        if (utf8) raw_ = input_.data();
        // Moderate chunks: expat copies what it is given into its own buffer.
        constexpr std::size_t kChunk = 256 * 1024;
        XML_Status status = XML_STATUS_OK;
        for (std::size_t at = 0; status == XML_STATUS_OK && !message_ && !result_;) {
            const std::size_t n = std::min(input_.size() - at, kChunk);
            const bool last = at + n == input_.size();
            std::optional<std::string> copy;
            if (utf8) copy = masked(input_, at, n);
            const char* chunk = copy ? copy->data() : input_.data() + at;
            status = XML_Parse(parser_, chunk, static_cast<int>(n), last);
            at += n;
            if (last) break;
        }
        if (message_) return failed(error, *message_);
        if (result_) return std::move(result_);
        if (status != XML_STATUS_OK) {
            return failed(error, std::string("malformed XML (") +
                                     XML_ErrorString(XML_GetErrorCode(parser_)) + ") at line " +
                                     std::to_string(line()));
        }
        return failed(error, "no property list in the document");
    }

  private:
    struct Container {
        Tag tag;
        Value value;
        std::string key;
        bool hasKey = false;  // dict: key read, value pending
        bool filled = false;  // plist: its one element seen
    };

    static XMLReader& self(void* p) { return *static_cast<XMLReader*>(p); }

    static void XMLCALL onStart(void* p, const XML_Char* name, const XML_Char**) {
        self(p).start(name);
    }
    static void XMLCALL onEnd(void* p, const XML_Char*) { self(p).end(); }
    static void XMLCALL onText(void* p, const XML_Char* s, int len) {
        self(p).text(std::string_view(s, static_cast<std::size_t>(len)));
    }
    static void XMLCALL onCdataStart(void* p) { self(p).cdataStart(); }
    static void XMLCALL onCdataEnd(void* p) { self(p).inCdata_ = false; }
    static void XMLCALL onEntityDecl(void* p, const XML_Char*, int, const XML_Char*, int,
                                     const XML_Char*, const XML_Char*, const XML_Char*,
                                     const XML_Char*) {
        self(p).fail("entity declarations are not allowed");
    }
    static void XMLCALL onSkippedEntity(void* p, const XML_Char* name, int) {
        self(p).fail("unknown entity &" + shown(name) + ";");
    }

    bool active() const { return !message_ && !result_; }
    long line() const { return static_cast<long>(XML_GetCurrentLineNumber(parser_)) + lineOffset_; }

    void fail(const std::string& what) {
        if (!active()) return;
        message_ = what + " at line " + std::to_string(line());
        XML_StopParser(parser_, XML_FALSE);
    }

    std::optional<Value> failed(ParseError* error, std::string message) {
        if (error) error->message = std::move(message);
        return std::nullopt;
    }

    void start(std::string_view name) {
        if (!active()) return;
        const std::optional<Tag> tag = tagNamed(name);
        if (!tag) return fail("unknown tag <" + shown(name) + ">");
        if (leaf_)
            return fail(std::string("<") + tagName(*tag) + "> inside <" + tagName(*leaf_) + ">");
        if (!stack_.empty()) {
            const Container& top = stack_.back();
            if (top.tag == Tag::Dict && !top.hasKey && *tag != Tag::Key) {
                return fail(std::string("<") + tagName(*tag) + "> where a <key> was expected");
            }
            if (top.tag == Tag::Plist && top.filled)
                return fail("more than one element in <plist>");
        }
        if (!isContainer(*tag)) {
            leaf_ = *tag;
            text_.clear();
            return;
        }
        // <plist> wrappers do not count as nesting, but cannot nest freely either.
        if ((*tag != Tag::Plist && depth_ >= kMaxDepth) || stack_.size() >= 2 * kMaxDepth) {
            return fail("nesting deeper than " + std::to_string(kMaxDepth) + " levels");
        }
        Container c{*tag, Value(), {}, false, false};
        if (*tag == Tag::Array) c.value = Value(Array{});
        if (*tag != Tag::Plist) ++depth_;
        stack_.push_back(std::move(c));
    }

    void end() {
        if (!active()) return;
        if (leaf_) {
            const Tag tag = *leaf_;
            leaf_.reset();
            if (std::optional<Value> v = leafValue(tag)) attach(std::move(*v));
            return;
        }
        Container c = std::move(stack_.back());
        stack_.pop_back();
        if (c.tag != Tag::Plist) --depth_;
        if (c.tag == Tag::Dict && c.hasKey)
            return fail("no value for key \"" + shown(c.key) + "\"");
        if (c.tag == Tag::Plist && !c.filled) return fail("empty <plist>");
        // Growth left up to half of an array unused; the tree is what stays.
        if (c.tag == Tag::Array) c.value.asArray()->shrink_to_fit();
        attach(std::move(c.value));
    }

    std::optional<Value> leafValue(Tag tag) {
        switch (tag) {
            case Tag::Key:
            case Tag::String:
                // Text that came in pieces grew its buffer beyond its length.
                if (text_.capacity() > text_.size() + 16) text_.shrink_to_fit();
                return Value(std::move(text_));
            case Tag::True:
            case Tag::False:
                return Value::boolean(tag == Tag::True);
            case Tag::Integer:
                if (auto i = integerFromText(text_)) return Value(*i);
                fail("bad <integer> \"" + shown(text_) + "\"");
                return std::nullopt;
            case Tag::Real:
                if (auto d = realFromText(text_)) return Value::real(*d);
                fail("bad <real> \"" + shown(text_) + "\"");
                return std::nullopt;
            case Tag::Date:
                if (auto d = dateFromText(text_)) return Value(Date{*d});
                fail("bad <date> \"" + shown(text_) + "\"");
                return std::nullopt;
            case Tag::Data:
                // An empty-element tag has no bytes of its own at its end.
                if (XML_GetCurrentByteCount(parser_) == 0) {
                    fail("<data/> is not allowed");
                    return std::nullopt;
                }
                return Value(detail::base64Decode(text_));
            case Tag::Plist:
            case Tag::Array:
            case Tag::Dict:
                break;
        }
        return std::nullopt;
    }

    void attach(Value v) {
        if (stack_.empty()) {
            // Whatever follows the root is ignored.
            result_ = std::move(v);
            XML_StopParser(parser_, XML_FALSE);
            return;
        }
        Container& top = stack_.back();
        if (top.tag == Tag::Array) {
            top.value.asArray()->push_back(std::move(v));
        } else if (top.tag == Tag::Plist) {
            top.value = std::move(v);
            top.filled = true;
        } else if (!top.hasKey) {
            top.key = std::move(*v.asString());
            top.hasKey = true;
        } else {
            detail::insertLast(*top.value.asDictionary(), std::move(top.key), std::move(v));
            top.key.clear();
            top.hasKey = false;
        }
    }

    void text(std::string_view s) {
        if (!active()) return;
        if (!leaf_) {
            if (!std::all_of(s.begin(), s.end(), isSpace)) return fail("unexpected text");
            return;
        }
        if (*leaf_ == Tag::True || *leaf_ == Tag::False) {
            return fail(std::string("text inside <") + tagName(*leaf_) + "/>");
        }
        if (raw_) {
            // The document's own bytes, unless this is a reference: expat
            // folds CR LF into LF and the platform keeps strings as written.
            const XML_Index at = XML_GetCurrentByteIndex(parser_);
            const auto count = static_cast<std::size_t>(XML_GetCurrentByteCount(parser_));
            if (at >= 0 && count > 0 && static_cast<std::size_t>(at) + count <= input_.size() &&
                (inCdata_ || raw_[at] != '&')) {
                s = std::string_view(raw_ + at, count);
            }
        }
        text_.append(s);
    }

    void cdataStart() {
        if (!active()) return;
        if (!leaf_ || (*leaf_ != Tag::String && *leaf_ != Tag::Key && *leaf_ != Tag::Real)) {
            return fail("CDATA is not allowed here");
        }
        inCdata_ = true;
    }

    std::string_view input_;
    int lineOffset_;
    const char* raw_ = nullptr;  // original bytes, when positions match them
    XML_Parser parser_ = nullptr;
    std::vector<Container> stack_;
    int depth_ = 0;  // open arrays and dictionaries
    std::optional<Tag> leaf_;
    std::string text_;
    bool inCdata_ = false;
    std::optional<Value> result_;
    std::optional<std::string> message_;
};

}  // namespace

std::optional<Value> parseXML(std::string_view bytes, ParseError* error) {
    // The platform allows whitespace before the XML declaration; expat does not.
    int lines = 0;
    std::size_t skip = 0;
    while (skip < bytes.size() && isSpace(bytes[skip])) {
        if (bytes[skip] == '\n') ++lines;
        ++skip;
    }
    if (skip == bytes.size()) {
        if (error) error->message = "empty document";
        return std::nullopt;
    }
    XMLReader reader(bytes.substr(skip), lines);
    return reader.run(error);
}

std::optional<Value> parse(std::string_view bytes, ParseError* error) {
    if (bytes.starts_with("bplist0")) return parseBinary(bytes, error);
    return parseXML(bytes, error);
}

}  // namespace plist
