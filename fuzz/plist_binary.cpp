// Binary reader: never crash; whatever reads writes back as binary without
// loss, and as XML that reads again and writes the same document (XML drops
// fractions of seconds, so the XML form is compared, not the value).

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
    const std::optional<plist::Value> value = plist::parseBinary(input);
    if (!value) return 0;

    plist::ParseError error;
    const std::optional<plist::Value> binary =
        plist::parseBinary(plist::writeBinary(*value), &error);
    check(binary.has_value(), "binary not readable:", error.message);
    check(plistSame(*value, *binary), "binary changed the value", "");

    // Characters XML cannot carry are written as U+FFFD, which may make two
    // keys one; what reads back from that form writes it again unchanged.
    const std::optional<plist::Value> again = plist::parseXML(plist::writeXML(*value), &error);
    check(again.has_value(), "XML not readable:", error.message);
    const std::string xml = plist::writeXML(*again);
    const std::optional<plist::Value> third = plist::parseXML(xml, &error);
    check(third.has_value(), "XML not readable:", error.message);
    check(plist::writeXML(*third) == xml, "XML changed on rewrite", "");
    return 0;
}
