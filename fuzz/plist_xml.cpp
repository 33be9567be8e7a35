// XML reader: never crash; whatever reads writes back (XML and binary) and
// reads again as the same value.

#include <cstdio>
#include <cstdlib>

#include "plist/plist.h"

bool plistSame(const plist::Value& a, const plist::Value& b);

static void check(bool ok, const char* what, const std::string& detail) {
    if (ok) return;
    std::fprintf(stderr, "round trip failed: %s %s\n", what, detail.c_str());
    std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::optional<plist::Value> value = plist::parseXML(input);
    if (!value) return 0;

    // A character XML cannot carry is written as U+FFFD; what reads back
    // from that form is then written and read again unchanged.
    plist::ParseError error;
    const std::optional<plist::Value> settled = plist::parseXML(plist::writeXML(*value), &error);
    check(settled.has_value(), "XML not readable:", error.message);
    const std::optional<plist::Value> again = plist::parseXML(plist::writeXML(*settled), &error);
    check(again.has_value(), "XML not readable:", error.message);
    check(plistSame(*settled, *again), "XML changed the value", "");

    const std::optional<plist::Value> binary =
        plist::parseBinary(plist::writeBinary(*value), &error);
    check(binary.has_value(), "binary not readable:", error.message);
    check(plistSame(*value, *binary), "binary changed the value", "");
    return 0;
}
