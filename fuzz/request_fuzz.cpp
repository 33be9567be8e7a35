// The executor's request as it arrives on standard input after the 32-byte
// authorization form: an 8-byte length and the document.
#include <cstdint>
#include <cstring>
#include <string>

#include "Request.h"
#include "contract/executor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    std::uint64_t length;
    std::memcpy(&length, data, 8);
    if (length > kMaxRequestLength) return 0;
    std::string document(reinterpret_cast<const char*>(data + 8), size - 8);
    if (document.size() < length) return 0;  // the executor ends with 21 here (request incomplete)
    document.resize(length);
    auto request = parseRequestDocument(document);
    if (request) {
        // What the dispatcher reads first.
        auto it = request->find(std::string(contract::kIdentifierKey));
        if (it != request->end()) (void)it->second.asString();
    }
    return 0;
}
