// List and string additions on the examples their callers rely on.

#include <gtest/gtest.h>

#include "KVXFoundation/KVXNSArrayAdditons.h"
#include "KVXFoundation/KVXNSStringAdditions.h"

namespace {

using namespace KVXNSArrayAdditons;
using namespace KVXNSStringAdditions;

QVariantList strings(std::initializer_list<const char*> items) {
    QVariantList list;
    for (const char* item : items) list.append(QString::fromUtf8(item));
    return list;
}

TEST(ArrayAdditions, ListsFromArrays) {
    const QVariantList ab = strings({"a", "b"});
    EXPECT_EQ(verticalListFromStringArrayWithQuotes(ab, true), "\"a\"\n\"b\"");
    EXPECT_EQ(verticalListFromStringArrayWithQuotes(ab, false), "a\nb");
    EXPECT_EQ(horizontalListFromStringArrayWithQuotes(ab, false), "a, b");
    EXPECT_EQ(horizontalListFromStringArrayWithQuotes(ab, true), "\"a\", \"b\"");
    EXPECT_EQ(verticalListFromStringArrayWithQuotes({}, true), "");
    // Quotes inside an item stay as they are.
    EXPECT_EQ(horizontalListFromStringArrayWithQuotes(strings({"say \"hi\""}), true),
              "\"say \"hi\"\"");
}

TEST(ArrayAdditions, ParsingStopsAtTheFirstEmptyLine) {
    struct Case {
        const char* text;
        QStringList plain;
        QStringList afterHeader;
    };
    const Case cases[] = {
        {"a\nb\n", {"a", "b"}, {"b"}},
        {"a\nb\n\nc", {"a", "b"}, {"b"}},
        {"header", {"header"}, {}},
        {"header\n", {"header"}, {}},
        {"", {}, {}},
        {"\na", {}, {"a"}},
        {"h\na\n\nb", {"h", "a"}, {"a"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(arrayByParsingVerticalList(c.text), c.plain) << c.text;
        EXPECT_EQ(arrayByParsingVerticalListAfterHeader(c.text), c.afterHeader) << c.text;
    }
}

TEST(ArrayAdditions, OnlyStringsMatchStrings) {
    const QVariantList mixed = {QString("1"), 1, QString("a"), QString("1"), 2.5};
    // A number stays even when an equal-looking string is removed, and every
    // occurrence of a removed string goes.
    EXPECT_EQ(arrayByRemovingStringsFromArray(mixed, {QString("1"), 2.5}),
              (QVariantList{1, QString("a"), 2.5}));
    EXPECT_EQ(arrayByRemovingStringsFromArray({1}, {QString("1")}), QVariantList{1});

    EXPECT_TRUE(containsString(mixed, "a"));
    EXPECT_FALSE(containsString({1}, "1"));
    EXPECT_FALSE(containsString({}, ""));

    // New strings are added once, in order; numbers are skipped, and a
    // number in the array does not stand for an equal-looking string.
    EXPECT_EQ(arrayByAddingStringsFromArrayWithoutDuplicates(
                  {1, QString("a")}, {QString("b"), QString("a"), 7, QString("b"), QString("1")}),
              (QVariantList{1, QString("a"), QString("b"), QString("1")}));
    const QVariantList unchanged = strings({"a"});
    EXPECT_EQ(arrayByAddingStringsFromArrayWithoutDuplicates(unchanged, {QString("a"), 3}),
              unchanged);
}

TEST(StringAdditions, Lines) {
    struct Case {
        const char* text;
        const char* withoutLastLine;
        const char* toFirstBreak;
        bool endsInBreak;
    };
    const Case cases[] = {
        {"a\nb\nc", "a\nb\n", "a", false},
        {"a\nb\n", "a\nb\n", "a", true},
        {"one line", "", "one line", false},
        {"", "", "", false},
        {"\n", "\n", "", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stringByDeletingLastLine(c.text), c.withoutLastLine) << c.text;
        EXPECT_EQ(stringToFirstLineBreak(c.text), c.toFirstBreak) << c.text;
        EXPECT_EQ(endsInLineBreak(c.text), c.endsInBreak) << c.text;
    }
    EXPECT_EQ(stringWithNewLineBreak("a"), "a\n");
    EXPECT_TRUE(containsSubstring("maintenance", "ten"));
    EXPECT_FALSE(containsSubstring("maintenance", "Ten"));
    EXPECT_FALSE(containsSubstring("maintenance", ""));
    EXPECT_FALSE(containsSubstring("", "a"));
}

TEST(StringAdditions, CountsInWords) {
    struct Case {
        qint32 value;
        bool capitalized;
        bool noForZero;
        const char* words;
    };
    const Case cases[] = {
        {0, false, true, "no"},
        {0, true, true, "No"},
        {0, false, false, "zero"},
        {0, true, false, "Zero"},
        {1, true, true, "One"},
        {3, false, false, "three"},
        {7, true, false, "Seven"},
        {10, false, false, "ten"},
        {10, true, true, "Ten"},
        {11, true, false, "11"},
        {-1, true, true, "-1"},
        {-2147483647 - 1, false, false, "-2147483648"},
        {2147483647, true, true, "2147483647"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(properStringForInt(c.value, c.capitalized, c.noForZero), c.words) << c.value;
}

}  // namespace
