// The executor's output stream as the main application reads it: any bytes,
// in any pieces. Besides not crashing, the pieces must not change the
// outcome: the same records and the same text, whatever the split.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "recordstreamparser.h"

namespace {

struct Outcome {
    std::string text;  // every text item, joined
    std::vector<std::string> records;
    std::vector<std::pair<double, double>> progress;
    std::string truncated;
    std::vector<std::string> oversized;
};

Outcome parse(std::string_view data, std::size_t step) {
    Outcome out;
    varno::RecordStreamParser parser([&](const varno::StreamItem& item) {
        switch (item.kind) {
            case varno::StreamItem::Kind::Text: out.text.append(item.bytes); break;
            case varno::StreamItem::Kind::Record: out.records.emplace_back(item.bytes); break;
            case varno::StreamItem::Kind::Progress:
                out.progress.emplace_back(item.position, item.total);
                break;
            case varno::StreamItem::Kind::TruncatedRecord: out.truncated.append(item.bytes); break;
            case varno::StreamItem::Kind::OversizedRecord:
                out.oversized.emplace_back(item.bytes);
                break;
        }
    });
    for (std::size_t at = 0; at < data.size(); at += step) {
        parser.feed(data.substr(at, step));
    }
    parser.finish();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the piece size; the rest is the stream.
    const std::size_t step = bytes[0] % 16 + 1;
    std::string_view data(reinterpret_cast<const char*>(bytes) + 1, size - 1);
    Outcome whole = parse(data, data.size() + 1);
    Outcome pieces = parse(data, step);
    if (whole.records != pieces.records || whole.text != pieces.text ||
        whole.truncated != pieces.truncated || whole.progress.size() != pieces.progress.size() ||
        whole.oversized.size() != pieces.oversized.size()) {
        std::abort();
    }
    return 0;
}
