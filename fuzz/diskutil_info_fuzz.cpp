// What the disk utility prints, read by both the disk information cache and
// the agent. A reader that fails gives nothing; a dictionary either gives
// writes back to an XML property list that, declaration line first, reads as
// the same dictionary again; and where the agent's XML-only reader gives a
// dictionary, the cache's reader gives the same one.
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "DiskUtilText.h"
#include "KVXDiskUtilText.h"
#include "app/plistbridge.h"

namespace {

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "diskutil text: %s\n", what);
    std::abort();
}

// Equality without conversions between types, NaN matching NaN.
bool same(const QVariant& a, const QVariant& b) {
    if (a.typeId() != b.typeId()) return false;
    switch (a.typeId()) {
        case QMetaType::Double: {
            const double x = a.toDouble(), y = b.toDouble();
            return (std::isnan(x) && std::isnan(y)) || x == y;
        }
        case QMetaType::QVariantList: {
            const QVariantList x = a.toList(), y = b.toList();
            if (x.size() != y.size()) return false;
            for (qsizetype i = 0; i < x.size(); ++i)
                if (!same(x[i], y[i])) return false;
            return true;
        }
        case QMetaType::QVariantMap: {
            const QVariantMap x = a.toMap(), y = b.toMap();
            if (x.size() != y.size()) return false;
            for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j)
                if (i.key() != j.key() || !same(i.value(), j.value())) return false;
            return true;
        }
        default:
            return a == b;
    }
}

// A character XML 1.0 cannot hold (a control other than tab, newline and
// carriage return, or U+FFFE/U+FFFF): the writer puts U+FFFD in its place,
// so such a dictionary comes back changed by design.
bool holdsUnwritableCharacter(const QVariant& value) {
    auto unwritable = [](const QString& s) {
        for (QChar c : s) {
            const char16_t u = c.unicode();
            if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xFFFE || u == 0xFFFF)
                return true;
        }
        return false;
    };
    switch (value.typeId()) {
        case QMetaType::QString:
            return unwritable(value.toString());
        case QMetaType::QVariantList:
            for (const QVariant& v : value.toList())
                if (holdsUnwritableCharacter(v)) return true;
            return false;
        case QMetaType::QVariantMap: {
            const QVariantMap map = value.toMap();
            for (auto i = map.begin(); i != map.end(); ++i)
                if (unwritable(i.key()) || holdsUnwritableCharacter(i.value())) return true;
            return false;
        }
        default:
            return false;
    }
}

void checkRoundTrip(const QVariantMap& info) {
    if (holdsUnwritableCharacter(info)) return;
    QString error;
    const std::optional<QByteArray> document = app::xmlPropertyList(info, &error);
    check(document.has_value(), "a dictionary read has no property-list form");
    const QString text = QString::fromUtf8(*document);
    // Both readers take that text for the utility's error reply.
    if (text.contains(QStringLiteral("Could not find "))) return;
    const kvxdiskutil::ParsedText cache = kvxdiskutil::infoFromText(text);
    check(!cache.error && same(cache.info, info), "the cache reads a written dictionary otherwise");
    const DiskUtilText agent = diskUtilDictionaryFromText(text);
    check(!agent.error && same(agent.dictionary, info),
          "the agent reads a written dictionary otherwise");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    // Both callers decode the utility's output as UTF-8.
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
    const kvxdiskutil::ParsedText cache = kvxdiskutil::infoFromText(text);
    const DiskUtilText agent = diskUtilDictionaryFromText(text);
    check(!cache.error || cache.info.isEmpty(), "the cache reports an error and a dictionary");
    check(!agent.error || agent.dictionary.isEmpty(),
          "the agent reports an error and a dictionary");
    if (!agent.dictionary.isEmpty())
        check(same(agent.dictionary, cache.info), "the readers disagree on an XML dictionary");
    // Where the agent reads a dictionary it is the cache's, checked just above.
    if (!cache.info.isEmpty()) checkRoundTrip(cache.info);
    return 0;
}
