#include "KVXUpdateStringsTable.h"

#include <QFile>
#include <QStringDecoder>

#include "app/plistbridge.h"
#include "plist/plist.h"

namespace kvxstrings {
namespace {

// Strings files are small; anything larger is not one.
constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;

std::optional<QString> decode(const QByteArray& bytes) {
    QStringDecoder::Encoding encoding = QStringDecoder::Utf8;
    if (bytes.startsWith("\xFF\xFE")) {
        encoding = QStringDecoder::Utf16LE;
    } else if (bytes.startsWith("\xFE\xFF")) {
        encoding = QStringDecoder::Utf16BE;
    } else if (bytes.size() >= 2 && bytes.size() % 2 == 0 && (bytes[0] == 0) != (bytes[1] == 0)) {
        // UTF-16 without a byte order mark: the zero half of an ASCII character
        // tells the order.
        encoding = bytes[0] == 0 ? QStringDecoder::Utf16BE : QStringDecoder::Utf16LE;
    }
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) return std::nullopt;
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    return text;
}

class Parser {
  public:
    explicit Parser(const QString& text) : s_(text) {}

    std::optional<Table> parse() {
        Table table;
        for (;;) {
            if (!skipSpaceAndComments()) return std::nullopt;
            if (atEnd()) return table;
            std::optional<QString> key = string();
            if (!key || !skipSpaceAndComments() || atEnd()) return std::nullopt;
            if (s_[i_] == ';') {  // "key"; stands for "key" = "key";
                ++i_;
                table.insert(*key, *key);
                continue;
            }
            if (s_[i_] != '=') return std::nullopt;
            ++i_;
            if (!skipSpaceAndComments()) return std::nullopt;
            std::optional<QString> value = string();
            if (!value || !skipSpaceAndComments() || atEnd() || s_[i_] != ';') return std::nullopt;
            ++i_;
            table.insert(*key, *value);
        }
    }

  private:
    bool atEnd() const { return i_ >= s_.size(); }

    // False on a comment that never ends.
    bool skipSpaceAndComments() {
        while (!atEnd()) {
            const QChar c = s_[i_];
            if (c.isSpace()) {
                ++i_;
            } else if (c == '/' && i_ + 1 < s_.size() && s_[i_ + 1] == '/') {
                while (!atEnd() && s_[i_] != '\n' && s_[i_] != '\r') ++i_;
            } else if (c == '/' && i_ + 1 < s_.size() && s_[i_ + 1] == '*') {
                const qsizetype end = s_.indexOf(QStringLiteral("*/"), i_ + 2);
                if (end < 0) return false;
                i_ = end + 2;
            } else {
                return true;
            }
        }
        return true;
    }

    static QChar controlEscape(QChar e) {
        static constexpr char kEscapes[][2] = {{'n', '\n'}, {'t', '\t'}, {'r', '\r'}, {'a', '\a'},
                                               {'b', '\b'}, {'f', '\f'}, {'v', '\v'}};
        for (const auto& escape : kEscapes)
            if (e == QLatin1Char(escape[0])) return QLatin1Char(escape[1]);
        return e;
    }

    static bool isBareChar(QChar c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '$' || c == ':' || c == '.' || c == '/' || c == '-' || c == '+';
    }

    std::optional<QString> string() {
        if (atEnd()) return std::nullopt;
        if (s_[i_] != '"') {
            const qsizetype start = i_;
            while (!atEnd() && isBareChar(s_[i_])) ++i_;
            if (i_ == start) return std::nullopt;
            return s_.mid(start, i_ - start);
        }
        ++i_;
        QString out;
        while (!atEnd()) {
            const QChar c = s_[i_++];
            if (c == '"') return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (atEnd()) return std::nullopt;
            const QChar e = s_[i_++];
            if (e == 'U' || e == 'u') {
                out += QChar(digits(16, 4));
            } else if (e >= '0' && e <= '7') {
                --i_;
                out += QChar(digits(8, 3));
            } else {
                out += controlEscape(e);  // \" \\ \' and the rest: the character
            }
        }
        return std::nullopt;  // no closing quote
    }

    static int digitValue(QChar c, int base) {
        const char16_t u = c.unicode();
        int d = base;
        if (u >= '0' && u <= '9') d = u - '0';
        if (u >= 'a' && u <= 'f') d = u - 'a' + 10;
        if (u >= 'A' && u <= 'F') d = u - 'A' + 10;
        return d < base ? d : -1;
    }

    // Up to `count` digits of the base.
    char16_t digits(int base, int count) {
        char16_t value = 0;
        for (int n = 0; n < count && !atEnd(); ++n) {
            const int d = digitValue(s_[i_], base);
            if (d < 0) break;
            value = static_cast<char16_t>(value * base + d);
            ++i_;
        }
        return value;
    }

    const QString& s_;
    qsizetype i_ = 0;
};

std::optional<Table> tableFromPropertyList(const QByteArray& bytes) {
    const std::optional<plist::Value> root =
        plist::parse(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    if (!root || !root->isDictionary()) return std::nullopt;
    Table table;
    for (const auto& [key, value] : *root->asDictionary()) {
        if (!value.isString()) return std::nullopt;
        table.insert(QString::fromStdString(key), QString::fromStdString(*value.asString()));
    }
    return table;
}

QString legacyName(const QString& code) {
    static const QHash<QString, QString> names = {
        {"en", "English"}, {"fr", "French"},  {"de", "German"}, {"ja", "Japanese"},
        {"es", "Spanish"}, {"it", "Italian"}, {"nl", "Dutch"},
    };
    return names.value(code);
}

}  // namespace

std::optional<Table> parseStringsFile(const QByteArray& bytes) {
    if (bytes.startsWith("bplist") || bytes.startsWith("<?xml") || bytes.startsWith("<plist"))
        return tableFromPropertyList(bytes);
    const std::optional<QString> text = decode(bytes);
    if (!text) return std::nullopt;
    return Parser(*text).parse();
}

QStringList localizationFolders(const QStringList& preferredLanguages) {
    QStringList folders;
    auto add = [&folders](const QString& name) {
        if (name.isEmpty() || name.contains('/') || name.startsWith('.')) return;
        const QString folder = name + QStringLiteral(".lproj");
        if (!folders.contains(folder)) folders.append(folder);
    };
    for (const QString& language : preferredLanguages) {
        QString underscored = language;
        underscored.replace('-', '_');
        add(underscored);
        add(language);
        const QString code = underscored.section('_', 0, 0);
        add(code);
        add(legacyName(code));
    }
    add(QStringLiteral("en"));
    add(QStringLiteral("English"));
    return folders;
}

Table loadTable(const QString& bundlePath, const QString& tableName,
                const QStringList& preferredLanguages) {
    for (const QString& folder : localizationFolders(preferredLanguages)) {
        QFile file(bundlePath + QStringLiteral("/Contents/Resources/") + folder + '/' + tableName +
                   QStringLiteral(".strings"));
        if (!file.open(QIODevice::ReadOnly)) continue;
        if (file.size() > kMaxFileBytes) continue;
        if (std::optional<Table> table = parseStringsFile(file.read(kMaxFileBytes))) return *table;
    }
    return {};
}

QString localizedString(const Table& table, const QString& key) {
    const auto it = table.constFind(key);
    return it == table.constEnd() ? key : *it;
}

}  // namespace kvxstrings
