// Strings files. A table read writes back as "key" = "value"; lines, with
// the escapes the reader knows, in UTF-8 and in UTF-16 with a byte order
// mark, and both read as the same table.
#include <QByteArray>
#include <QStringEncoder>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "KVXUpdateStringsTable.h"

namespace {

void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "strings file: %s\n", what);
    std::abort();
}

QString quoted(const QString& s) {
    static const QString named = QStringLiteral("\n\t\r\a\b\f\v");
    static const QString letters = QStringLiteral("ntrabfv");
    QString out = QStringLiteral("\"");
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (const qsizetype at = named.indexOf(c); at >= 0) {
            out += '\\';
            out += letters[at];
        } else if (u < 0x20 || u > 0x7e) {
            out += QStringLiteral("\\U%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        } else {
            out += c;
        }
    }
    return out + '"';
}

void checkReadsAs(const QByteArray& bytes, const kvxstrings::Table& table, const char* what) {
    const std::optional<kvxstrings::Table> again = kvxstrings::parseStringsFile(bytes);
    check(again.has_value() && *again == table, what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
    const std::optional<kvxstrings::Table> table = kvxstrings::parseStringsFile(input);
    if (!table) return 0;
    QString text;
    for (auto it = table->begin(); it != table->end(); ++it)
        text +=
            quoted(it.key()) + QStringLiteral(" = ") + quoted(it.value()) + QStringLiteral(";\n");
    checkReadsAs(text.toUtf8(), *table, "the table written in UTF-8 reads otherwise");
    QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
    checkReadsAs(utf16.encode(text), *table, "the table written in UTF-16 reads otherwise");
    return 0;
}
