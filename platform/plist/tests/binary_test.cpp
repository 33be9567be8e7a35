#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "plist/plist.h"

namespace plist {
namespace {

std::string be(std::uint64_t v, std::size_t n) {
    std::string s;
    for (std::size_t i = n; i-- > 0;) s.push_back(i < 8 ? static_cast<char>(v >> (8 * i)) : '\0');
    return s;
}

// A bplist00 file from encoded objects, with a correct offset table and
// trailer unless a test overrides a field.
struct File {
    std::vector<std::string> objects;
    std::uint64_t top = 0;
    std::size_t refSize = 1, offsetSize = 1;
    std::optional<std::uint64_t> count, tableAt;

    std::string bytes() const {
        std::string out = "bplist00";
        std::vector<std::uint64_t> offsets;
        for (const auto& o : objects) {
            offsets.push_back(out.size());
            out += o;
        }
        const std::uint64_t table = out.size();
        for (auto o : offsets) out += be(o, offsetSize);
        out += std::string(6, '\0');
        out.push_back(static_cast<char>(offsetSize));
        out.push_back(static_cast<char>(refSize));
        out += be(count.value_or(objects.size()), 8) + be(top, 8) + be(tableAt.value_or(table), 8);
        return out;
    }
};

File file(std::vector<std::string> objects, std::uint64_t top = 0, std::size_t refSize = 1,
          std::size_t offsetSize = 1) {
    File f;
    f.objects = std::move(objects);
    f.top = top;
    f.refSize = refSize;
    f.offsetSize = offsetSize;
    return f;
}

std::string bin(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s.push_back(static_cast<char>(c));
    return s;
}

TEST(BinaryWriterTest, LaysOutLikeThePlatform) {
    // dict, its keys, its values; the value "a" is the key object "a".
    const Value v(Dictionary{{"b", Value("a")}, {"a", Value::integer(1)}});
    const std::string expected = "bplist00" + bin({0xD2, 1, 2, 3, 1}) + bin({0x51, 'a'}) +
                                 bin({0x51, 'b'}) + bin({0x10, 1}) + bin({8, 13, 15, 17}) +
                                 std::string(6, '\0') + bin({1, 1}) + be(4, 8) + be(0, 8) +
                                 be(19, 8);
    EXPECT_EQ(writeBinary(v), expected);
}

TEST(BinaryWriterTest, EncodesEachType) {
    struct Case {
        const char* name;
        Value value;
        std::string object;
    };
    const Case cases[] = {
        {"small int", Value::integer(200), bin({0x10, 200})},
        {"two-byte int", Value::integer(0x1234), bin({0x11, 0x12, 0x34})},
        {"four-byte int", Value::integer(0x12345678), bin({0x12, 0x12, 0x34, 0x56, 0x78})},
        {"negative int takes 8 bytes", Value::integer(-1), bin({0x13}) + be(~0ull, 8)},
        {"big unsigned takes 16 bytes", Value::unsignedInteger(~0ull),
         bin({0x14}) + be(0, 8) + be(~0ull, 8)},
        {"real", Value::real(0.5), bin({0x23, 0x3F, 0xE0, 0, 0, 0, 0, 0, 0})},
        {"date", Value(Date{0}), bin({0x33}) + be(0, 8)},
        {"true", Value::boolean(true), bin({0x09})},
        {"data", Value(Data{1, 2}), bin({0x42, 1, 2})},
        {"ascii string", Value("hi"), bin({0x52, 'h', 'i'})},
        {"UTF-16 string with a pair", Value("\xC3\xA9\xF0\x9F\x98\x80"),
         bin({0x63, 0x00, 0xE9, 0xD8, 0x3D, 0xDE, 0x00})},
        {"long count", Value(std::string(20, 'x')), bin({0x5F, 0x10, 20}) + std::string(20, 'x')},
        {"empty array", Value(Array{}), bin({0xA0})},
    };
    for (const auto& c : cases) {
        const std::string file = writeBinary(c.value);
        EXPECT_EQ(file.substr(8, file.size() - 8 - 1 - 32), c.object) << c.name;
    }
}

TEST(BinaryWriterTest, SizesGrowOnlyWhenNeeded) {
    Array items;
    for (int i = 0; i < 300; ++i) items.push_back(Value::integer(i));  // 301 objects
    const std::string file = writeBinary(Value(items));
    EXPECT_EQ(file[file.size() - 25], 2) << "references to 300 objects need 2 bytes";
    EXPECT_EQ(file[file.size() - 26], 2) << "offsets below 65536 need 2 bytes";
    const std::string small = writeBinary(Value(Array{Value::integer(1)}));
    EXPECT_EQ(small[small.size() - 25], 1);
    EXPECT_EQ(small[small.size() - 26], 1);
}

TEST(BinaryTest, RoundTripsEveryType) {
    const Value v(Dictionary{
        {"strings", Value(Array{Value(""), Value("plain"), Value("\xC3\xA9t\xC3\xA9"),
                                Value("\xF0\x9F\x98\x80"), Value(std::string(70000, 'z'))})},
        {"numbers", Value(Array{Value::integer(0), Value::integer(-5), Value::integer(INT64_MIN),
                                Value::unsignedInteger(~0ull), Value::real(0.1), Value::real(-0.0),
                                Value::real(std::numeric_limits<double>::infinity())})},
        {"shared", Value(Array{Value("plain"), Value("plain"), Value::integer(-5)})},
        {"dates", Value(Array{Value(Date{-1e9}), Value(Date{730902896.25})})},
        {"data", Value(Data(1000, 7))},
        {"nested",
         Value(Dictionary{{"\xEF\xBF\xBD", Value(Dictionary{})}, {"b", Value::boolean(false)}})},
    });
    ParseError error;
    const std::optional<Value> back = parse(writeBinary(v), &error);
    ASSERT_TRUE(back) << error.message;
    EXPECT_TRUE(*back == v);
    EXPECT_TRUE(writeXML(*back) == writeXML(v));
}

TEST(BinaryReaderTest, ReadsHandMadeObjects) {
    struct Case {
        const char* name;
        File file;
        Value expected;
    };
    const Case cases[] = {
        {"16-byte unsigned", file({bin({0x14}) + be(0, 8) + be(~0ull, 8)}),
         Value::unsignedInteger(~0ull)},
        {"16-byte negative keeps the low 64 bits",
         file({bin({0x14}) + be(~0ull, 8) + be(~0ull - 1, 8)}), Value::integer(-2)},
        {"8-byte signed", file({bin({0x13}) + be(~0ull, 8)}), Value::integer(-1)},
        {"1-byte unsigned", file({bin({0x10, 0xFF})}), Value::integer(255)},
        {"float32", file({bin({0x22, 0x3F, 0xC0, 0, 0})}), Value::real(1.5)},
        {"UTF-16 surrogate pair", file({bin({0x62, 0xD8, 0x3D, 0xDE, 0x00})}),
         Value("\xF0\x9F\x98\x80")},
        {"lone surrogate becomes U+FFFD", file({bin({0x62, 0xD8, 0x3D, 0x00, 0x41})}),
         Value("\xEF\xBF\xBD"
               "A")},
        {"count as integer object", file({bin({0x4F, 0x10, 0x02, 9, 8})}), Value(Data{9, 8})},
        {"shared subtree", file({bin({0xA2, 1, 1}), bin({0xA1, 2}), bin({0x51, 'x'})}),
         Value(Array{Value(Array{Value("x")}), Value(Array{Value("x")})})},
        {"set reads as array", file({bin({0xC1, 1}), bin({0x09})}),
         Value(Array{Value::boolean(true)})},
        {"UID as the XML form has it", file({bin({0x81, 0x01, 0x02})}),
         Value(Dictionary{{"CF$UID", Value::integer(258)}})},
        {"top object not first, 2-byte sizes",
         file({bin({0x51, 'k'}), bin({0xD1, 0, 0, 0, 0})}, 1, 2, 2),
         Value(Dictionary{{"k", Value("k")}})},
        {"header bplist0 with any version", file({bin({0x08})}), Value::boolean(false)},
    };
    for (const auto& c : cases) {
        ParseError error;
        const std::optional<Value> v = parseBinary(c.file.bytes(), &error);
        ASSERT_TRUE(v) << c.name << ": " << error.message;
        EXPECT_TRUE(*v == c.expected) << c.name << "\n" << writeXML(*v);
    }
    std::string other = file({bin({0x09})}).bytes();
    other[7] = '1';
    EXPECT_TRUE(parse(other)) << "bplist01";
}

TEST(BinaryReaderTest, Rejects) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    };
    const File ok = file({bin({0xA1, 1}), bin({0x09})});
    auto with = [&](auto change) {
        File f = ok;
        change(f);
        return f.bytes();
    };
    std::string truncated = ok.bytes();
    truncated.pop_back();
    std::string noMagic = ok.bytes();
    noMagic[0] = 'x';
    std::vector<Case> cases = {
        {"too short", "bplist00" + std::string(32, '\0'), "too short"},
        {"truncated trailer", truncated, "bad offset or reference size in the trailer"},
        {"no magic", noMagic, "no bplist0 header"},
        {"zero objects", with([](File& f) { f.count = 0; }), "no objects"},
        {"top past count", with([](File& f) { f.top = 2; }), "top object past"},
        {"ref size 0", with([](File& f) { f.refSize = 0; }), "bad offset or reference size"},
        {"offset size 9", with([](File& f) { f.offsetSize = 9; }), "bad offset or reference size"},
        {"offset table inside header", with([](File& f) { f.tableAt = 8; }),
         "offset table outside"},
        {"offset table overflow", with([](File& f) { f.count = (1ull << 63) + 1; }),
         "offset table does not fit"},
        {"count larger than table", with([](File& f) { f.count = 3; }),
         "offset table does not fit"},
        {"reference past the count", file({bin({0xA1, 2}), bin({0x09})}).bytes(),
         "reference 2 past the object count"},
        {"cycle", file({bin({0xA1, 1}), bin({0xA1, 0})}).bytes(), "contains itself"},
        {"self reference", file({bin({0xA1, 0})}).bytes(), "contains itself"},
        {"null object", file({bin({0x00})}).bytes(), "unsupported object type 0x00"},
        {"unknown marker", file({bin({0x70})}).bytes(), "unsupported object type 0x70"},
        {"int of 32 bytes", file({bin({0x15}) + std::string(32, '\0')}).bytes(),
         "bad integer size"},
        {"real of 2 bytes", file({bin({0x21, 0, 0})}).bytes(), "bad real or date size"},
        {"string past the object area", file({bin({0x55, 'a'})}).bytes(),
         "outside the object area"},
        {"huge count", file({bin({0x4F, 0x13}) + be(~0ull, 8)}).bytes(), "outside the object area"},
        {"count not an integer", file({bin({0x4F, 0x51, 'a'})}).bytes(), "bad count"},
        {"non-ASCII in ASCII string", file({bin({0x51, 0xE9})}).bytes(), "non-ASCII"},
        {"non-string key", file({bin({0xD1, 1, 1}), bin({0x10, 1})}).bytes(), "key is no string"},
        {"array refs past the area", file({bin({0xAE, 1}), bin({0x09})}).bytes(),
         "outside the object area"},
    };
    // An offset that points into the offset table or the header.
    File badOffset = ok;
    std::string b = badOffset.bytes();
    b[b.size() - 32 - 1] = static_cast<char>(b.size() - 32 - 2);
    cases.push_back({"offset into the table", b, "offset outside the object area"});
    b[b.size() - 32 - 1] = 2;
    cases.push_back({"offset into the header", b, "offset outside the object area"});

    for (const auto& c : cases) {
        ParseError error;
        EXPECT_FALSE(parseBinary(c.bytes, &error)) << c.name;
        EXPECT_NE(error.message.find(c.message), std::string::npos)
            << c.name << ": " << error.message;
    }
}

TEST(BinaryReaderTest, DepthAndExpansionAreBounded) {
    // Object i is an array holding object i+1; the last one is empty.
    auto chain = [](std::size_t depth) {
        File f;
        f.refSize = 2;
        f.offsetSize = 4;
        for (std::size_t i = 0; i + 1 < depth; ++i) f.objects.push_back(bin({0xA1}) + be(i + 1, 2));
        f.objects.push_back(bin({0xA0}));
        return f.bytes();
    };
    EXPECT_TRUE(parseBinary(chain(kMaxDepth)));
    ParseError error;
    EXPECT_FALSE(parseBinary(chain(kMaxDepth + 1), &error));
    EXPECT_NE(error.message.find("nesting deeper than 512"), std::string::npos) << error.message;

    // Each level holds the next one twice: 2^60 arrays from a tiny file.
    File bomb;
    for (int i = 0; i < 60; ++i) bomb.objects.push_back(bin({0xA2, i + 1, i + 1}));
    bomb.objects.push_back(bin({0x5F, 0x11, 0x10, 0x00}) + std::string(4096, 'x'));
    EXPECT_FALSE(parseBinary(bomb.bytes(), &error));
    EXPECT_NE(error.message.find("memory limit"), std::string::npos) << error.message;
}

}  // namespace
}  // namespace plist
