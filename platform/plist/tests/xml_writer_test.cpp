#include <gtest/gtest.h>

#include <limits>
#include <numeric>

#include "plist/plist.h"

namespace plist {
namespace {

std::string doc(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" +
           body + "</plist>\n";
}

Data bytes(std::size_t n) {
    Data d(n);
    std::iota(d.begin(), d.end(), std::uint8_t{0});
    return d;
}

struct GoldenCase {
    const char* name;
    Value value;
    std::string body;
};

constexpr double kInf = std::numeric_limits<double>::infinity();

// base64 of bytes 0..59: 80 characters.
const std::string k60 =
    "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7";

TEST(XMLWriterTest, GoldenScalars) {
    const GoldenCase cases[] = {
        {"string escapes only & < >", Value("a&b<c>\"'"), "<string>a&amp;b&lt;c&gt;\"'</string>\n"},
        {"control XML forbids becomes U+FFFD; tab, CR and non-ASCII stay",
         Value("\x01\t\r\xC3\xA9"), "<string>\xEF\xBF\xBD\t\r\xC3\xA9</string>\n"},
        {"empty string", Value(""), "<string></string>\n"},
        {"zero", Value::integer(0), "<integer>0</integer>\n"},
        {"negative", Value::integer(-42), "<integer>-42</integer>\n"},
        {"int64 min", Value::integer(std::numeric_limits<std::int64_t>::min()),
         "<integer>-9223372036854775808</integer>\n"},
        {"big unsigned", Value::unsignedInteger(std::numeric_limits<std::uint64_t>::max()),
         "<integer>18446744073709551615</integer>\n"},
        {"real 1", Value::real(1), "<real>1</real>\n"},
        {"real 0.5", Value::real(0.5), "<real>0.5</real>\n"},
        {"real 0.1", Value::real(0.1), "<real>0.10000000000000001</real>\n"},
        {"real -1", Value::real(-1), "<real>-1</real>\n"},
        {"real 1e20", Value::real(1e20), "<real>1e+20</real>\n"},
        {"real 1e-7", Value::real(1e-7), "<real>9.9999999999999995e-08</real>\n"},
        {"real nan", Value::real(std::numeric_limits<double>::quiet_NaN()), "<real>nan</real>\n"},
        {"real +inf", Value::real(kInf), "<real>+infinity</real>\n"},
        {"real -inf", Value::real(-kInf), "<real>-infinity</real>\n"},
        {"real 0", Value::real(0.0), "<real>0.0</real>\n"},
        {"real -0", Value::real(-0.0), "<real>0.0</real>\n"},
        {"true", Value::boolean(true), "<true/>\n"},
        {"false", Value::boolean(false), "<false/>\n"},
        {"reference date", Value(Date{0}), "<date>2001-01-01T00:00:00Z</date>\n"},
        {"fraction truncated", Value(Date{730902896.999}), "<date>2024-02-29T12:34:56Z</date>\n"},
        {"before 2001, fraction", Value(Date{-0.5}), "<date>2000-12-31T23:59:59Z</date>\n"},
        {"unix epoch", Value(dateFromUnix(0)), "<date>1970-01-01T00:00:00Z</date>\n"},
        {"1969", Value(Date{-992490140}), "<date>1969-07-20T20:17:40Z</date>\n"},
        {"year 1", Value(Date{-63113904000.0}), "<date>0001-01-01T00:00:00Z</date>\n"},
        {"empty data", Value(Data{}), "<data>\n</data>\n"},
        {"short data", Value(Data{'a'}), "<data>\nYQ==\n</data>\n"},
        {"data 76 per line at root", Value(bytes(60)),
         "<data>\n" + k60.substr(0, 76) + "\n" + k60.substr(76) + "\n</data>\n"},
        {"empty array", Value(Array{}), "<array/>\n"},
        {"empty dict", Value(Dictionary{}), "<dict/>\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(writeXML(c.value), doc(c.body)) << c.name;
}

TEST(XMLWriterTest, NestingIndentsWithTabs) {
    const Value v(Dictionary{
        {"list", Value(Array{Value::integer(1), Value(Array{}), Value(Dictionary{}),
                             Value(Array{Value("deep")})})},
        {"map", Value(Dictionary{{"k", Value::boolean(false)}})},
    });
    EXPECT_EQ(writeXML(v), doc("<dict>\n"
                               "\t<key>list</key>\n"
                               "\t<array>\n"
                               "\t\t<integer>1</integer>\n"
                               "\t\t<array/>\n"
                               "\t\t<dict/>\n"
                               "\t\t<array>\n"
                               "\t\t\t<string>deep</string>\n"
                               "\t\t</array>\n"
                               "\t</array>\n"
                               "\t<key>map</key>\n"
                               "\t<dict>\n"
                               "\t\t<key>k</key>\n"
                               "\t\t<false/>\n"
                               "\t</dict>\n"
                               "</dict>\n"));
}

TEST(XMLWriterTest, DataLinesShrinkWithDepthUpToEightTabs) {
    // Depth d: lines of 76 - 8*min(d, 8) characters, indented min(d, 8) tabs.
    for (int depth : {1, 2, 7, 8, 10}) {
        Value v(bytes(60));
        for (int i = 0; i < depth; ++i) v = Value(Array{v});
        const int lineIndent = std::min(depth, 8);
        const std::size_t width = static_cast<std::size_t>(76 - 8 * lineIndent);
        std::string body;
        for (int i = 0; i < depth; ++i) body += std::string(i, '\t') + "<array>\n";
        body += std::string(depth, '\t') + "<data>\n";
        for (std::size_t at = 0; at < k60.size(); at += width) {
            body += std::string(lineIndent, '\t') + k60.substr(at, width) + "\n";
        }
        body += std::string(depth, '\t') + "</data>\n";
        for (int i = depth - 1; i >= 0; --i) body += std::string(i, '\t') + "</array>\n";
        EXPECT_EQ(writeXML(v), doc(body)) << "depth " << depth;
    }
}

TEST(XMLWriterTest, KeysSortByUtf16CodeUnits) {
    Dictionary d;
    const char* keys[] = {
        "b", "\xEF\xBF\xBD" /* U+FFFD */, "ab", "_", "a", "\xF0\x9F\x98\x80" /* U+1F600 */,
        "B", "\xC3\xA9" /* e acute */,    "aa", "A", "",  "a&"};
    for (const char* k : keys) d.emplace(k, Value::integer(0));
    std::string body = "<dict>\n";
    // A prefix first; case-sensitive; a supplementary character (surrogates
    // D83D..) before U+FFFD although its code point is larger.
    for (const char* k : {"", "A", "B", "_", "a", "a&amp;", "aa", "ab", "b", "\xC3\xA9",
                          "\xF0\x9F\x98\x80", "\xEF\xBF\xBD"}) {
        body += std::string("\t<key>") + k + "</key>\n\t<integer>0</integer>\n";
    }
    body += "</dict>\n";
    EXPECT_EQ(writeXML(Value(d)), doc(body));
}

}  // namespace
}  // namespace plist
