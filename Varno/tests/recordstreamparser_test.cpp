#include "recordstreamparser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using varno::RecordStreamParser;
using varno::StreamItem;
using Kind = StreamItem::Kind;

struct Item {
    Kind kind;
    std::string bytes;
    double position = 0;
    double total = 0;
    bool operator==(const Item&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Item& item) {
    static const char* names[] = {"Text", "Progress", "Record", "TruncatedRecord",
                                  "OversizedRecord"};
    return os << names[static_cast<int>(item.kind)] << "[" << item.bytes << "](" << item.position
              << "," << item.total << ")";
}

// Feeds the stream in pieces of the given sizes (the last one repeated).
std::vector<Item> parse(const std::string& stream, std::vector<std::size_t> pieces = {}) {
    std::vector<Item> items;
    RecordStreamParser parser([&](const StreamItem& i) {
        items.push_back({i.kind, std::string(i.bytes), i.position, i.total});
    });
    if (pieces.empty()) pieces.push_back(stream.size() ? stream.size() : 1);
    std::size_t at = 0;
    for (std::size_t k = 0; at < stream.size(); ++k) {
        std::size_t n = pieces[std::min(k, pieces.size() - 1)];
        parser.feed(std::string_view(stream).substr(at, n));
        at += n;
    }
    parser.finish();
    return items;
}

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
const std::string kProlog = kDeclaration +
                            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                            "<plist version=\"1.0\">\n";

std::string record(const std::string& tag, const std::string& extra = "") {
    return kProlog +
           "<dict>\n\t<key>KVXAEDictionaryIdentifierAuthExecOutputIdentifier</key>\n"
           "\t<string>" +
           tag + "</string>\n" + extra + "</dict>\n</plist>\n";
}

const std::string kProgress = "KVXAEProgressUpdateAuthExecOutputIdentifier";

// A stream with every kind of item and the lines that look like records
// without being one.
struct Sample {
    std::string stream;
    std::vector<Item> items;
};

Sample sample() {
    Sample s;
    auto add = [&](Item item, const std::string& raw) {
        s.stream += raw;
        s.items.push_back(std::move(item));
    };
    auto text = [&](const std::string& t) { add({Kind::Text, t}, t); };
    text("\tScanning /Applications/...\n");
    add({Kind::Progress, kProgress + "(0.00,25.00)\n", 0, 25}, kProgress + "(0.00,25.00)\n");
    text("\tRemoving /Library/Caches/<plist version=\"1.0\">.cache\n");
    text("<plist> is the element a document opens with\n");
    text("<?xml version=\"1.0\"?> is a declaration, not a document\n");
    text("plain text\n");
    add({Kind::Progress, kProgress + "(10.00,-1.00)\n", 10, -1}, kProgress + "(10.00,-1.00)\n");
    text(kProgress + "(ten,-1.00)\n");
    text(kProgress + "(1.00,2.00) trailing\n");
    std::string r1 = record("KVXAEUserSystemCleanCachesAuthExec",
                            "\t<key>KVXAETotalSizeRemovedAuthExecDictionaryOutputKey</key>\n"
                            "\t<integer>4096</integer>\n");
    add({Kind::Record, r1}, r1);
    // The executor ends an unfinished line before a record.
    text("Error -60005 authorizing.\n");
    std::string r2 = record("KVXAEQueryProcessesAuthExec",
                            "\t<key>note</key>\n\t<string>&lt;/plist&gt; inside</string>\n");
    add({Kind::Record, r2}, r2);
    // A tool's own document without a tag; without the serializer's prolog
    // a document is text.
    std::string tool = kProlog +
                       "<dict><key>ErrorCode</key>"
                       "<integer>0</integer></dict></plist>\n";
    add({Kind::Record, tool}, tool);
    text(
        "<plist version=\"1.0\"><dict><key>ErrorCode</key><integer>0</integer>"
        "</dict></plist>\n");
    add({Kind::Progress, kProgress + "(24.00,25.00)\n", 24, 25}, kProgress + "(24.00,25.00)\n");
    text("last line without newline");
    return s;
}

TEST(RecordStreamParser, SplitsEveryKindOfItem) {
    Sample s = sample();
    EXPECT_EQ(parse(s.stream), s.items);
}

TEST(RecordStreamParser, SameItemsWhateverTheReadSizes) {
    Sample s = sample();
    for (std::size_t n : {1, 2, 3, 5, 7, 8, 13, 64, 100, 333, 4096}) {
        EXPECT_EQ(parse(s.stream, {n}), s.items) << "pieces of " << n;
    }
    // Every split into two reads, including one just inside and just after
    // a closing tag.
    for (std::size_t at = 1; at < s.stream.size(); ++at) {
        ASSERT_EQ(parse(s.stream, {at, s.stream.size()}), s.items) << "split at " << at;
    }
}

// A plist start tag that closes beyond the prolog's reach is no document,
// whether the stream arrives whole or in small pieces.
TEST(RecordStreamParser, OverlongStartTagIsTextWhateverTheReadSizes) {
    const std::string stream = "<?xml version=\"1.0\"?>\n<plist version=\"" +
                               std::string(1100, '6') + "\">\n<dict/>\n</plist>\n";
    const std::vector<Item> whole = parse(stream);
    for (std::size_t n : {1, 3, 64}) EXPECT_EQ(parse(stream, {n}), whole) << "pieces of " << n;
    for (const Item& item : whole) EXPECT_NE(item.kind, Kind::Record);
}

TEST(RecordStreamParser, StreamEndingInsideARecordIsReportedTruncated) {
    std::string full = record("KVXAECleanBinariesAuthExec");
    std::string cut = "\tStripping\n" + full.substr(0, full.size() - 20);
    std::vector<Item> items;
    bool inside = false;
    RecordStreamParser parser([&](const StreamItem& i) {
        items.push_back({i.kind, std::string(i.bytes), i.position, i.total});
    });
    parser.feed(cut);
    inside = parser.insideRecord();
    parser.finish();
    EXPECT_TRUE(inside);
    EXPECT_FALSE(parser.insideRecord());
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], (Item{Kind::Text, "\tStripping\n"}));
    EXPECT_EQ(items[1], (Item{Kind::TruncatedRecord, full.substr(0, full.size() - 20)}));
}

TEST(RecordStreamParser, StreamEndingInsideThePrologIsATruncatedRecord) {
    std::string start = record("X").substr(0, 50);  // declaration and part of the doctype
    EXPECT_EQ(parse("text\n" + start),
              (std::vector<Item>{{Kind::Text, "text\n"}, {Kind::TruncatedRecord, start}}));
}

TEST(RecordStreamParser, NewlineAfterClosingTagInNextReadIsNoEmptyLine) {
    std::string r = record("KVXAEUserSystemCleanLogsAuthExec");
    std::string stream = r + "after\n";
    std::size_t split = r.size() - 1;  // just before the record's final newline
    EXPECT_EQ(parse(stream, {split, stream.size()}),
              (std::vector<Item>{{Kind::Record, r}, {Kind::Text, "after\n"}}));
    // At the very end of the stream the record goes without it.
    EXPECT_EQ(parse(r.substr(0, split)), (std::vector<Item>{{Kind::Record, r.substr(0, split)}}));
}

TEST(RecordStreamParser, RecordsBackToBackAndEmptyLinesKept) {
    std::string a = record("A"), b = record("B");
    auto items = parse("\n" + a + b + "\n");
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0], (Item{Kind::Text, "\n"}));
    EXPECT_EQ(items[1], (Item{Kind::Record, a}));
    EXPECT_EQ(items[2], (Item{Kind::Record, b}));
    EXPECT_EQ(items[3], (Item{Kind::Text, "\n"}));
}

// Names a user chose reach the stream inside announcements; only what the
// executor writes at the start of a line may be a record.
TEST(RecordStreamParser, RecordsOnlyWhereTheExecutorWritesThem) {
    const std::string size =
        record("KVXAEUserSystemCleanCachesAuthExec",
               "\t<key>KVXAETotalSizeRemovedAuthExecDictionaryOutputKey</key>\n"
               "\t<integer>7</integer>\n");
    const std::string& declaration = kDeclaration;
    const std::vector<std::string> textOnly = {
        "\tRemoving /private/tmp/x" + kProgress + "(99.00,100.00)\n",
        "\tWorking" + kProgress + "(2.50,7.00)\n",
        kProgress + "(1e2,100.00)\n",
        kProgress + "(99.00,100.00)\r\n",
        kProgress + "( 1.00,2.00)\n",
        "\tRemoving /private/tmp/a<?xml ?><plist>\n",
        "\tRemoving /private/tmp/" + declaration,
        " " + declaration,
        declaration + "<plist version=\"1.0\">\n<dict/>\n</plist>\n",
        "<?xml version=\"1.0\"?>\n" + record("X").substr(declaration.size()),
    };
    for (const std::string& line : textOnly) {
        SCOPED_TRACE(line);
        const std::string stream = line + size;
        for (std::size_t n : {std::size_t{1}, std::size_t{9}, stream.size()}) {
            const std::vector<Item> items = parse(stream, {n});
            ASSERT_GE(items.size(), 2u) << "pieces of " << n;
            EXPECT_EQ(items.back(), (Item{Kind::Record, size})) << "pieces of " << n;
            std::string text;
            for (std::size_t i = 0; i + 1 < items.size(); ++i) {
                EXPECT_EQ(items[i].kind, Kind::Text);
                text += items[i].bytes;
            }
            EXPECT_EQ(text, line);
        }
    }
    EXPECT_EQ(parse(kProgress + "(-3.25,10.00)"),
              (std::vector<Item>{{Kind::Progress, kProgress + "(-3.25,10.00)", -3.25, 10}}));
}

TEST(RecordStreamParser, RecordOverTheLimitIsReportedAndSkipped) {
    const std::string big =
        record("KVXAEQueryProcessesAuthExec",
               "\t<key>a</key>\n\t<string>" + std::string(3000, '&') + "</string>\n");
    const std::string small = record("B");
    const std::string stream = "before\n" + big + "after\n" + small;
    for (std::size_t n : {std::size_t{1}, std::size_t{100}, stream.size()}) {
        SCOPED_TRACE(n);
        std::vector<Item> items;
        RecordStreamParser parser(
            [&](const StreamItem& i) {
                items.push_back({i.kind, std::string(i.bytes)});
            },
            big.size() - 2);  // one byte short of the document through its closing tag
        for (std::size_t at = 0; at < stream.size(); at += n)
            parser.feed(std::string_view(stream).substr(at, n));
        parser.finish();
        ASSERT_EQ(items.size(), 4u);
        EXPECT_EQ(items[0], (Item{Kind::Text, "before\n"}));
        EXPECT_EQ(items[1].kind, Kind::OversizedRecord);
        EXPECT_EQ(big.rfind(items[1].bytes, 0), 0u);  // the start of the document
        EXPECT_LE(items[1].bytes.size(), 1024u);
        EXPECT_EQ(items[2], (Item{Kind::Text, "after\n"}));
        EXPECT_EQ(items[3], (Item{Kind::Record, small}));
    }
}

TEST(RecordStreamParser, ParserIsReusableAfterFinish) {
    std::vector<Item> items;
    RecordStreamParser parser([&](const StreamItem& i) {
        items.push_back({i.kind, std::string(i.bytes), i.position, i.total});
    });
    std::string r = record("X");
    parser.feed(r.substr(0, 50));
    parser.finish();
    parser.feed("fresh\n");
    parser.finish();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].kind, Kind::TruncatedRecord);
    EXPECT_EQ(items[1], (Item{Kind::Text, "fresh\n"}));
}

}  // namespace
