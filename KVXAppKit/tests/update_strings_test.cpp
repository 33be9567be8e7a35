// Strings tables: the file forms the update checker reads its texts from, and
// which localization folder it takes them from.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include "KVXUpdateStringsTable.h"
#include "host/testing.h"

namespace {

using kvxstrings::Table;

QByteArray encoded(const QString& text, QStringEncoder::Encoding encoding, bool bom) {
    QStringEncoder encoder(encoding,
                           bom ? QStringEncoder::Flag::WriteBom : QStringEncoder::Flag::Default);
    return encoder.encode(text);
}

TEST(StringsFile, ReadsEntriesCommentsAndEscapes) {
    const QString text = QString::fromUtf8(
        "/* Update alerts */\n"
        "\"Up-To-Date window title\" = \"%@ is up to date\";  // trailing comment\n"
        "\"Quote\" = \"say \\\"hi\\\"\\n\\ttab \\\\ caf\\U00e9\";\n"
        "\"Octal\" = \"\\101\";\n"
        "Bare_key.1 = bare-value;\n"
        "\"Self\";\n"
        "\"Multi\nline\" = \"\xc3\xa9t\xc3\xa9\";\n");
    const std::optional<Table> table = kvxstrings::parseStringsFile(text.toUtf8());
    ASSERT_TRUE(table);
    EXPECT_EQ(table->size(), 6);
    EXPECT_EQ(table->value("Up-To-Date window title"), "%@ is up to date");
    EXPECT_EQ(table->value("Quote"), QString::fromUtf8("say \"hi\"\n\ttab \\ caf\xc3\xa9"));
    EXPECT_EQ(table->value("Octal"), "A");
    EXPECT_EQ(table->value("Bare_key.1"), "bare-value");
    EXPECT_EQ(table->value("Self"), "Self");
    EXPECT_EQ(table->value("Multi\nline"), QString::fromUtf8("\xc3\xa9t\xc3\xa9"));
}

TEST(StringsFile, ReadsEveryUnicodeForm) {
    const QString text = QString::fromUtf8("\"Yes\" = \"Ja \xe2\x9c\x93\";\n");
    const struct {
        const char* name;
        QByteArray bytes;
    } forms[] = {
        {"UTF-8", text.toUtf8()},
        {"UTF-8 with BOM", encoded(text, QStringEncoder::Utf8, true)},
        {"UTF-16LE with BOM", encoded(text, QStringEncoder::Utf16LE, true)},
        {"UTF-16BE with BOM", encoded(text, QStringEncoder::Utf16BE, true)},
        {"UTF-16LE without BOM", encoded(text, QStringEncoder::Utf16LE, false)},
    };
    for (const auto& form : forms) {
        const std::optional<Table> table = kvxstrings::parseStringsFile(form.bytes);
        ASSERT_TRUE(table) << form.name;
        EXPECT_EQ(table->value("Yes"), QString::fromUtf8("Ja \xe2\x9c\x93")) << form.name;
    }
}

TEST(StringsFile, ReadsAPropertyListDictionary) {
    const QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
        "\t<key>No</key>\n\t<string>Nein</string>\n</dict>\n</plist>\n";
    const std::optional<Table> table = kvxstrings::parseStringsFile(xml);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->value("No"), "Nein");
}

TEST(StringsFile, RejectsWhatIsNotOne) {
    const char* broken[] = {
        "\"a\" = \"b\"",   // no semicolon
        "\"a\" = \"b;\n",  // no closing quote
        "/* never closed \"a\" = \"b\";",
        "\"a\" \"b\";",  // no equals sign
        "\"a\" = ;",     // no value
        "\"a\" = \"b\"; junk junk",
    };
    for (const char* text : broken) EXPECT_FALSE(kvxstrings::parseStringsFile(text)) << text;
    EXPECT_FALSE(kvxstrings::parseStringsFile("\"a\" = \"\xc3\x28\";"));  // not UTF-8
    // Empty and comment-only files are empty tables.
    EXPECT_EQ(kvxstrings::parseStringsFile("")->size(), 0);
    EXPECT_EQ(kvxstrings::parseStringsFile("// nothing\n/* here */")->size(), 0);
}

TEST(StringsFile, MissingKeyShowsTheKey) {
    const Table table{{"OK", "Gut"}};
    EXPECT_EQ(kvxstrings::localizedString(table, "OK"), "Gut");
    EXPECT_EQ(kvxstrings::localizedString(table, "Yes"), "Yes");
}

TEST(StringsTable, FoldersRunFromThePreferredLanguageToEnglish) {
    EXPECT_EQ(kvxstrings::localizationFolders({"de-CH", "fr"}),
              QStringList({"de_CH.lproj", "de-CH.lproj", "de.lproj", "German.lproj", "fr.lproj",
                           "French.lproj", "en.lproj", "English.lproj"}));
    // Nothing outside the bundle's resources is ever looked at.
    EXPECT_EQ(kvxstrings::localizationFolders({"../x", ".."}),
              QStringList({"en.lproj", "English.lproj"}));
}

TEST(StringsTable, TakesThePreferredLanguageAndFallsBackToEnglish) {
    host::testing::TempDir bundle;
    const QString resources = QString::fromStdString(bundle.path()) + "/Contents/Resources/";
    auto write = [&](const QString& folder, const QByteArray& content) {
        ASSERT_TRUE(QDir().mkpath(resources + folder));
        QFile file(resources + folder + "/KVXUpdate.strings");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(content), content.size());
    };
    write("English.lproj", "\"Yes\" = \"Yes!\";");
    write("de.lproj", "\"Yes\" = \"Ja\";");
    write("fr.lproj", "\"Yes\" = ");  // unreadable: the next folder is taken
    const QString path = QString::fromStdString(bundle.path());
    EXPECT_EQ(kvxstrings::loadTable(path, "KVXUpdate", {"de-DE"}).value("Yes"), "Ja");
    EXPECT_EQ(kvxstrings::loadTable(path, "KVXUpdate", {"fr"}).value("Yes"), "Yes!");
    EXPECT_EQ(kvxstrings::loadTable(path, "KVXUpdate", {"ja"}).value("Yes"), "Yes!");
    EXPECT_TRUE(kvxstrings::loadTable(path, "Other", {"de"}).isEmpty());
}

}  // namespace
