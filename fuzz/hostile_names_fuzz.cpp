// Names of any bytes, written as the executor writes them - in the display
// form inside text lines and as strings of result records, between real
// progress records - and read back by the main application's stream parser.
// Whatever a name holds, the parser must give back exactly the lines and
// records written, in any pieces, and every record must parse with expat.
#include <expat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "plist/display.h"
#include "plist/plist.h"
#include "recordstreamparser.h"

namespace {

struct Item {
    varno::StreamItem::Kind kind;
    std::string bytes;  // the text line or the record; empty for progress
    double position = 0, total = 0;
    bool operator==(const Item&) const = default;
};

bool wellFormed(std::string_view xml) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    bool ok =
        XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}

std::vector<Item> parse(std::string_view stream, std::size_t step) {
    std::vector<Item> items;
    varno::RecordStreamParser parser([&](const varno::StreamItem& item) {
        if (item.kind == varno::StreamItem::Kind::Progress)
            items.push_back({item.kind, "", item.position, item.total});
        else
            items.push_back({item.kind, std::string(item.bytes)});
    });
    for (std::size_t at = 0; at < stream.size(); at += step) parser.feed(stream.substr(at, step));
    parser.finish();
    return items;
}

}  // namespace

// The input is names separated by '/', which no name can hold.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    std::string_view data(reinterpret_cast<const char*>(bytes), size);
    std::string stream;
    std::vector<Item> written;
    std::size_t index = 0;
    for (std::size_t start = 0; start <= data.size(); ++index) {
        std::size_t end = std::min(data.find('/', start), data.size());
        const std::string name(data.substr(start, end - start));
        start = end + 1;

        std::string line = "\tRemoving /private/tmp/" + plist::displayForm(name) + "\n";
        stream += line;
        written.push_back({varno::StreamItem::Kind::Text, line});
        if (index % 2 != 0) continue;

        plist::Dictionary record;
        record["KVXAEDictionaryIdentifierAuthExecOutputIdentifier"] =
            plist::Value("KVXAEQueryProcessesAuthExec");
        record["Command"] = plist::Value(name);
        record[name] = plist::Value(plist::Array{plist::Value(name)});
        std::string xml = plist::writeXML(plist::Value(record));
        if (!wellFormed(xml)) abort();
        stream += xml;
        written.push_back({varno::StreamItem::Kind::Record, xml});

        char progress[160];
        const double position = static_cast<double>(index), total = static_cast<double>(size);
        snprintf(progress, sizeof progress,
                 "KVXAEProgressUpdateAuthExecOutputIdentifier(%.2f,%.2f)\n", position, total);
        stream += progress;
        written.push_back({varno::StreamItem::Kind::Progress, "", position, total});
    }

    const std::size_t step = size == 0 ? 1 : bytes[0] % 13 + 1;
    if (parse(stream, stream.size() + 1) != written) abort();
    if (parse(stream, step) != written) abort();
    return 0;
}
