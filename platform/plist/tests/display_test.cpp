#include <gtest/gtest.h>

#include "plist/display.h"
#include "plist/plist.h"

namespace plist {
namespace {

using namespace std::string_literals;

struct NameCase {
    std::string name;
    std::string shown;     // displayForm
    std::string inRecord;  // what a reader gets back from the XML record
};

const NameCase kNames[] = {
    {"Caf\xC3\xA9 \\ %n%s <&>", "Caf\xC3\xA9 \\ %n%s <&>", "Caf\xC3\xA9 \\ %n%s <&>"},
    {"a\nKVX\r\tb", "a\\nKVX\\r\\tb", "a\nKVX\r\tb"},
    {"\x1B[2K\x07\x7F"s, "\\x1B[2K\\x07\\x7F", "\xEF\xBF\xBD[2K\xEF\xBF\xBD\x7F"},
    {"nul\0x"s, "nul\\x00x", "nul\xEF\xBF\xBDx"},
    {"c1\xC2\x85\xC2\x9F", "c1\\xC2\\x85\\xC2\\x9F", "c1\xC2\x85\xC2\x9F"},
    {"bad\xFF\xFE", "bad\\xFF\\xFE", "bad\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"lone\x80", "lone\\x80", "lone\xEF\xBF\xBD"},
    {"over\xC0\xAF", "over\\xC0\\xAF", "over\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"sur\xED\xA0\x80", "sur\\xED\\xA0\\x80", "sur\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"cut\xE2\x82", "cut\\xE2\\x82", "cut\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"nonchar\xEF\xBF\xBF", "nonchar\xEF\xBF\xBF", "nonchar\xEF\xBF\xBD"},
};

TEST(NamesAsBytesTest, DisplayFormAndRecordsHoldEveryName) {
    for (const NameCase& c : kNames) {
        SCOPED_TRACE(displayForm(c.name));
        const std::string shown = displayForm(c.name);
        EXPECT_EQ(shown, c.shown);
        for (char ch : shown) EXPECT_GE(static_cast<unsigned char>(ch), 0x20u);

        // As a string and as a key, the record parses and gives back the
        // name with only what XML cannot hold replaced.
        Dictionary d;
        d[c.name] = Value(c.name);
        const std::string xml = writeXML(Value(d));
        std::optional<Value> read = parseXML(xml);
        ASSERT_TRUE(read.has_value()) << xml;
        ASSERT_EQ(read->asDictionary()->size(), 1u);
        EXPECT_EQ(read->asDictionary()->begin()->first, c.inRecord);
        EXPECT_EQ(*read->asDictionary()->begin()->second.asString(), c.inRecord);
    }
}

TEST(NamesAsBytesTest, ValidUTF8ReplacesOnlyMalformedBytes) {
    EXPECT_EQ(validUTF8("ctl\x01 caf\xC3\xA9"), "ctl\x01 caf\xC3\xA9");
    EXPECT_EQ(validUTF8("a\xFF\xC3"), "a\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(NamesAsBytesTest, BinaryRecordHoldsTheSameTextAsXML) {
    const std::string name = "bad\xFF\xFE caf\xC3\xA9";
    std::optional<Value> binary = parseBinary(writeBinary(Value(name)));
    std::optional<Value> xml = parseXML(writeXML(Value(name)));
    ASSERT_TRUE(binary && xml);
    EXPECT_EQ(*binary->asString(), *xml->asString());
}

}  // namespace
}  // namespace plist
