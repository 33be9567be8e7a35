#include "plist/display.h"

#include "text.h"

namespace plist {

namespace {

void appendHexEscapes(std::string& out, std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    }
}

bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

}  // namespace

std::string displayForm(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        char32_t cp = 0;
        std::size_t length = detail::decodeUtf8(name, i, cp);
        if (length == 0) {
            appendHexEscapes(out, name.substr(i, 1));
            ++i;
            continue;
        }
        if (!isControl(cp)) {
            out.append(name, i, length);
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == '\t') {
            out += "\\t";
        } else {
            appendHexEscapes(out, name.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string validUTF8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        std::size_t length = detail::decodeUtf8(bytes, i, cp);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes, i, length);
            i += length;
        }
    }
    return out;
}

}  // namespace plist
