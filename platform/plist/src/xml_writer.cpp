// The XML form exactly as the platform's serializer lays it out.

#include <charconv>
#include <cmath>
#include <cstdio>

#include "plist/plist.h"
#include "text.h"

namespace plist {

namespace {

constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";
constexpr std::string_view kFooter = "</plist>\n";

// Data lines shrink by 8 characters per tab, down to 12 from 8 tabs on.
constexpr int kMaxDataIndent = 8;

class XMLWriter {
  public:
    explicit XMLWriter(std::string& out) : out_(out) {}

    void value(const Value& v, int indent) {
        tabs(indent);
        switch (v.type()) {
            case Type::String:
                element("string", *v.asString());
                break;
            case Type::Integer:
                integer(*v.asIntegerValue());
                break;
            case Type::Real:
                real(*v.asReal());
                break;
            case Type::Boolean:
                out_.append(*v.asBoolean() ? "<true/>\n" : "<false/>\n");
                break;
            case Type::Date:
                date(*v.asDate());
                break;
            case Type::Data:
                data(*v.asData(), indent);
                break;
            case Type::Array:
                array(*v.asArray(), indent);
                break;
            case Type::Dictionary:
                dictionary(*v.asDictionary(), indent);
                break;
        }
    }

  private:
    void tabs(int n) { out_.append(static_cast<std::size_t>(n), '\t'); }

    // Markup characters become entities. A character XML 1.0 forbids (a
    // control other than tab, newline and carriage return; U+FFFE, U+FFFF)
    // and every byte that is not part of valid UTF-8 become U+FFFD, so the
    // document parses whatever a string held; valid text is kept byte for byte.
    void escaped(std::string_view s) {
        static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
        std::size_t start = 0;
        for (std::size_t i = 0; i < s.size();) {
            const auto c = static_cast<unsigned char>(s[i]);
            std::size_t length = 1;
            std::string_view entity;
            if (c == '&') {
                entity = "&amp;";
            } else if (c == '<') {
                entity = "&lt;";
            } else if (c == '>') {
                entity = "&gt;";
            } else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                entity = kReplacement;
            } else if (c < 0x80) {
                ++i;
                continue;
            } else {
                char32_t cp = 0;
                length = detail::decodeUtf8(s, i, cp);
                if (length != 0 && cp != 0xFFFE && cp != 0xFFFF) {
                    i += length;
                    continue;
                }
                if (length == 0) length = 1;
                entity = kReplacement;
            }
            out_.append(s.substr(start, i - start));
            out_.append(entity);
            i += length;
            start = i;
        }
        out_.append(s.substr(start));
    }

    void element(std::string_view tag, std::string_view text) {
        out_.push_back('<');
        out_.append(tag);
        out_.push_back('>');
        escaped(text);
        out_.append("</");
        out_.append(tag);
        out_.append(">\n");
    }

    void integer(const Integer& i) {
        char buf[24];
        const auto r = i.isBigUnsigned ? std::to_chars(buf, buf + sizeof buf,
                                                       static_cast<std::uint64_t>(i.value))
                                       : std::to_chars(buf, buf + sizeof buf, i.value);
        element("integer", std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
    }

    void real(double d) {
        if (std::isnan(d)) return element("real", "nan");
        if (std::isinf(d)) return element("real", d > 0 ? "+infinity" : "-infinity");
        if (d == 0) return element("real", "0.0");
        // to_chars with a precision is %.17g in the C locale, whatever the
        // process's locale is.
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 17);
        element("real", std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
    }

    void date(Date d) {
        const detail::CivilTime t = detail::civilFromSeconds(d.seconds);
        char buf[64];
        const int n = std::snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02dZ",
                                    static_cast<long long>(t.year), t.month, t.day, t.hour,
                                    t.minute, t.second);
        element("date", std::string_view(buf, static_cast<std::size_t>(n)));
    }

    void data(const Data& bytes, int indent) {
        out_.append("<data>\n");
        const int lineIndent = indent < kMaxDataIndent ? indent : kMaxDataIndent;
        const std::size_t lineLength = static_cast<std::size_t>(76 - 8 * lineIndent);
        const std::string encoded = detail::base64Encode(bytes.data(), bytes.size());
        for (std::size_t i = 0; i < encoded.size(); i += lineLength) {
            tabs(lineIndent);
            out_.append(encoded, i, lineLength);
            out_.push_back('\n');
        }
        tabs(indent);
        out_.append("</data>\n");
    }

    void array(const Array& items, int indent) {
        if (items.empty()) {
            out_.append("<array/>\n");
            return;
        }
        out_.append("<array>\n");
        for (const Value& item : items) value(item, indent + 1);
        tabs(indent);
        out_.append("</array>\n");
    }

    void dictionary(const Dictionary& dict, int indent) {
        if (dict.empty()) {
            out_.append("<dict/>\n");
            return;
        }
        out_.append("<dict>\n");
        for (const detail::Entry* entry : detail::sortedEntries(dict)) {
            tabs(indent + 1);
            element("key", entry->first);
            value(entry->second, indent + 1);
        }
        tabs(indent);
        out_.append("</dict>\n");
    }

    std::string& out_;
};

}  // namespace

std::string writeXML(const Value& value) {
    std::string out;
    out.append(kHeader);
    XMLWriter(out).value(value, 0);
    out.append(kFooter);
    return out;
}

}  // namespace plist
