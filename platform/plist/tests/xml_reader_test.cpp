#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "plist/plist.h"

namespace plist {
namespace {

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";

std::string inPlist(const std::string& body) {
    return kHead + "<plist version=\"1.0\">" + body + "</plist>\n";
}

struct AcceptCase {
    const char* name;
    std::string document;
    Value expected;
};

TEST(XMLReaderTest, Accepts) {
    const AcceptCase cases[] = {
        {"plain string", inPlist("<string>hi</string>"), Value("hi")},
        {"bare root, no declaration", "<string>x</string>", Value("x")},
        {"leading whitespace, comment, PI",
         " \r\n\t<?xml version=\"1.0\"?><!-- c --><?pi x?><dict/>", Value(Dictionary{})},
        {"doctype with internal subset",
         "<!DOCTYPE plist [ <!ELEMENT plist ANY> ]><plist><true/></plist>", Value::boolean(true)},
        {"trailing garbage ignored", "<plist><false/></plist><<< junk &bogus;",
         Value::boolean(false)},
        {"trailing garbage after bare root", "<integer>3</integer></x>", Value::integer(3)},
        {"attributes skipped, spaced empty tag",
         "<plist a='1'><array b=\"2\"><true /></array></plist>",
         Value(Array{Value::boolean(true)})},
        {"entities", inPlist("<string>&lt;&gt;&amp;&apos;&quot;&#65;&#x42;&#x1F600;</string>"),
         Value("<>&'\"AB\xF0\x9F\x98\x80")},
        {"whitespace in strings kept", inPlist("<string> a\n\tb </string>"), Value(" a\n\tb ")},
        {"CR LF kept in strings", inPlist("<string>a\r\nb\rc</string>"), Value("a\r\nb\rc")},
        {"raw control characters as written", inPlist("<string>\x01\x1f\x7f</string>"),
         Value("\x01\x1f\x7f")},
        {"CDATA in string", inPlist("<string><![CDATA[<&>]]>x</string>"), Value("<&>x")},
        {"CDATA in key", inPlist("<dict><key><![CDATA[k&]]></key><true/></dict>"),
         Value(Dictionary{{"k&", Value::boolean(true)}})},
        {"CDATA in real", inPlist("<real><![CDATA[2.5]]></real>"), Value::real(2.5)},
        {"empty-element string and key", inPlist("<dict><key/><string/></dict>"),
         Value(Dictionary{{"", Value("")}})},
        {"key in array is a string", inPlist("<array><key>k</key></array>"),
         Value(Array{Value("k")})},
        {"duplicate keys: last wins",
         inPlist("<dict><key>a</key><integer>1</integer><key>a</key><integer>2</integer></dict>"),
         Value(Dictionary{{"a", Value::integer(2)}})},
        {"key value may be a key", inPlist("<dict><key>a</key><key>b</key></dict>"),
         Value(Dictionary{{"a", Value("b")}})},
        {"comments between elements", inPlist("<array><!-- x --><true/> <!-- y --></array>"),
         Value(Array{Value::boolean(true)})},
        {"integer signs and spaces", inPlist("<integer> - 12</integer>"), Value::integer(-12)},
        {"integer plus", inPlist("<integer>+7</integer>"), Value::integer(7)},
        {"integer hex", inPlist("<integer>0x1F</integer>"), Value::integer(31)},
        {"integer negative hex", inPlist("<integer>-0XfF</integer>"), Value::integer(-255)},
        {"integer min", inPlist("<integer>-9223372036854775808</integer>"),
         Value::integer(std::numeric_limits<std::int64_t>::min())},
        {"integer big unsigned", inPlist("<integer>18446744073709551615</integer>"),
         Value::unsignedInteger(std::numeric_limits<std::uint64_t>::max())},
        {"real decimal", inPlist("<real>0.10000000000000001</real>"), Value::real(0.1)},
        {"real leading space, exponent", inPlist("<real> 1e+20</real>"), Value::real(1e20)},
        {"real integer-looking", inPlist("<real>3</real>"), Value::real(3)},
        {"real +infinity", inPlist("<real>+infinity</real>"),
         Value::real(std::numeric_limits<double>::infinity())},
        {"real -INF", inPlist("<real>-INF</real>"),
         Value::real(-std::numeric_limits<double>::infinity())},
        {"date", inPlist("<date>2024-02-29T12:34:56Z</date>"), Value(Date{730902896})},
        {"date before 2001", inPlist("<date>1969-07-20T20:17:40Z</date>"), Value(Date{-992490140})},
        {"data lenient base64", inPlist("<data>\n\tYW Jj\n\t*ZA==\n</data>"),
         Value(Data{'a', 'b', 'c', 'd'})},
        {"empty data", inPlist("<data></data>"), Value(Data{})},
        {"any root type", inPlist("<array><dict><key>x</key><data>AA==</data></dict></array>"),
         Value(Array{Value(Dictionary{{"x", Value(Data{0})}})})},
        {"latin-1 document", "<?xml version='1.0' encoding='ISO-8859-1'?><string>\xE9</string>",
         Value("\xC3\xA9")},
        {"external DTD never fetched", "<!DOCTYPE plist SYSTEM \"file:///nonexistent.dtd\"><true/>",
         Value::boolean(true)},
        {"UTF-16 document",
         std::string("\xFF\xFE<\0s\0t\0r\0i\0n\0g\0>\0\xE9\0\r\0\n\0<\0/\0s\0t\0r\0i\0n\0g\0>\0",
                     42),
         Value("\xC3\xA9\n")},
    };
    for (const auto& c : cases) {
        ParseError error;
        const std::optional<Value> v = parseXML(c.document, &error);
        ASSERT_TRUE(v) << c.name << ": " << error.message;
        EXPECT_TRUE(*v == c.expected) << c.name << "\n" << writeXML(*v);
        EXPECT_TRUE(parse(c.document)) << c.name << " (auto-detected)";
    }
}

TEST(XMLReaderTest, NaNReal) {
    for (const char* text : {"nan", "NaN", "-nan"}) {
        const auto v = parseXML(inPlist(std::string("<real>") + text + "</real>"));
        ASSERT_TRUE(v && v->isReal()) << text;
        EXPECT_TRUE(std::isnan(*v->asReal())) << text;
    }
}

struct RejectCase {
    const char* name;
    std::string document;
    const char* message;  // part of the error
};

TEST(XMLReaderTest, Rejects) {
    const RejectCase cases[] = {
        {"empty input", "", "empty document"},
        {"only whitespace", " \n", "empty document"},
        {"unknown tag", inPlist("<strin>x</strin>"), "unknown tag <strin>"},
        {"tags are case-sensitive", inPlist("<String>x</String>"), "unknown tag <String>"},
        {"empty plist", inPlist(""), "empty <plist>"},
        {"plist as empty element", kHead + "<plist/>", "empty <plist>"},
        {"second element in plist", inPlist("<true/><false/>"), "more than one element in <plist>"},
        {"text between elements", inPlist("<array>x<true/></array>"), "unexpected text"},
        {"element inside a string", inPlist("<string><true/></string>"), "<true> inside <string>"},
        {"text inside true", inPlist("<true>yes</true>"), "text inside <true/>"},
        {"dict value missing", inPlist("<dict><key>a</key></dict>"), "no value for key \"a\""},
        {"dict without key", inPlist("<dict><string>a</string></dict>"),
         "<string> where a <key> was expected"},
        {"unknown entity", inPlist("<string>&nbsp;</string>"), "unknown entity &nbsp;"},
        {"unknown entity, no doctype", "<string>&nbsp;</string>", "undefined entity"},
        {"entity declaration", "<!DOCTYPE p [<!ENTITY a \"aaaa\">]><string>&a;</string>",
         "entity declarations are not allowed"},
        {"external entity", "<!DOCTYPE p [<!ENTITY e SYSTEM \"/etc/passwd\">]><string>&e;</string>",
         "entity declarations are not allowed"},
        {"parameter entity", "<!DOCTYPE p [<!ENTITY % e \"x\">]><true/>",
         "entity declarations are not allowed"},
        {"CDATA in integer", inPlist("<integer><![CDATA[1]]></integer>"),
         "CDATA is not allowed here"},
        {"CDATA between elements", inPlist("<array><![CDATA[x]]></array>"),
         "CDATA is not allowed here"},
        {"empty integer", inPlist("<integer></integer>"), "bad <integer>"},
        {"integer trailing space", inPlist("<integer>1 </integer>"), "bad <integer>"},
        {"integer overflow", inPlist("<integer>18446744073709551616</integer>"), "bad <integer>"},
        {"integer negative overflow", inPlist("<integer>-9223372036854775809</integer>"),
         "bad <integer>"},
        {"integer bare hex prefix", inPlist("<integer>0x</integer>"), "bad <integer>"},
        {"integer decimal point", inPlist("<integer>1.0</integer>"), "bad <integer>"},
        {"empty real", inPlist("<real></real>"), "bad <real>"},
        {"real trailing space", inPlist("<real>1.5 </real>"), "bad <real>"},
        {"real junk", inPlist("<real>1.5x</real>"), "bad <real>"},
        {"date without Z", inPlist("<date>2001-01-01T00:00:00</date>"), "bad <date>"},
        {"date with fraction", inPlist("<date>2001-01-01T00:00:00.5Z</date>"), "bad <date>"},
        {"date with space", inPlist("<date> 2001-01-01T00:00:00Z</date>"), "bad <date>"},
        {"date month 13", inPlist("<date>2001-13-01T00:00:00Z</date>"), "bad <date>"},
        {"date short field", inPlist("<date>2001-1-01T00:00:00Z</date>"), "bad <date>"},
        {"data as empty element", inPlist("<data/>"), "<data/> is not allowed"},
        {"mismatched tags", inPlist("<array></dict>"), "malformed XML"},
        {"unclosed root", kHead + "<plist><array>", "malformed XML"},
        {"doctype after root start", "<plist><!DOCTYPE x><true/></plist>", "malformed XML"},
        {"text before root", "junk<plist/>", "malformed XML"},
        {"control character in markup", "<plist\x01><true/></plist>", "malformed XML"},
        {"invalid UTF-8", inPlist("<string>\xC3</string>"), "malformed XML"},
    };
    for (const auto& c : cases) {
        ParseError error;
        EXPECT_FALSE(parseXML(c.document, &error)) << c.name;
        EXPECT_NE(error.message.find(c.message), std::string::npos)
            << c.name << ": got \"" << error.message << "\"";
    }
}

TEST(XMLReaderTest, ErrorNamesTheLine) {
    ParseError error;
    EXPECT_FALSE(parseXML("\n\n<plist>\n<array>\n<bogus/>\n</array></plist>", &error));
    EXPECT_EQ(error.message, "unknown tag <bogus> at line 5");
    EXPECT_FALSE(parseXML("<plist>\n<integer>x</integer>\n</plist>", &error));
    EXPECT_EQ(error.message, "bad <integer> \"x\" at line 2");
}

TEST(XMLReaderTest, CharactersAcrossFeedBoundariesKeepTheirBytes) {
    // The reader hands expat 256 KiB at a time; put a masked three-byte
    // character, a CR LF and a control character on each side of the edge.
    constexpr std::size_t kEdge = 256 * 1024;
    for (std::size_t shift = 0; shift < 4; ++shift) {
        const std::string head = "<string>";
        std::string text(kEdge - head.size() - 3 + shift, 'x');
        text += "\xEF\xBF\xBF\r\n\x02";
        text += std::string(100, 'y');
        ParseError error;
        const auto v = parseXML(head + text + "</string>", &error);
        ASSERT_TRUE(v) << "shift " << shift << ": " << error.message;
        EXPECT_TRUE(*v->asString() == text) << "shift " << shift;
    }
}

TEST(XMLReaderTest, DepthIsLimited) {
    auto nested = [](int depth) {
        std::string s;
        for (int i = 0; i < depth; ++i) s += "<array>";
        for (int i = 0; i < depth; ++i) s += "</array>";
        return s;
    };
    EXPECT_TRUE(parseXML(nested(kMaxDepth)));
    ParseError error;
    EXPECT_FALSE(parseXML(nested(kMaxDepth + 1), &error));
    EXPECT_NE(error.message.find("nesting deeper than 512"), std::string::npos) << error.message;
    // Far beyond the limit stays cheap and safe.
    EXPECT_FALSE(parseXML(nested(200000)));
}

TEST(XMLReaderTest, WhatTheWriterWritesReadsBackEqual) {
    const Value v(Dictionary{
        {"s", Value("a&<>\r\n\x7F\xC2\x85\xEF\xBF\xBD end")},
        {"i", Value(Array{Value::integer(-1), Value::unsignedInteger(~0ull), Value::integer(0)})},
        {"r", Value(Array{Value::real(0.1), Value::real(-1e300), Value::real(5e-324),
                          Value::real(std::numeric_limits<double>::infinity())})},
        {"d", Value(Array{Value(Date{-63113904000.0}), Value(Date{730902896})})},
        {"b", Value(Data{0, 1, 2, 255})},
        {"n", Value(Dictionary{{"\xF0\x9F\x98\x80", Value(Array{Value(Array{})})},
                               {"", Value::boolean(true)}})},
    });
    ParseError error;
    const std::optional<Value> back = parseXML(writeXML(v), &error);
    ASSERT_TRUE(back) << error.message;
    EXPECT_TRUE(*back == v) << writeXML(*back);
}

}  // namespace
}  // namespace plist
