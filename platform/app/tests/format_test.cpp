// Formatting of messages and descriptions: what log lines and alert texts
// show for the system's own formats.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimeZone>

#include "app/format.h"

namespace {

struct FormatCase {
    const char* format;
    QVariantList arguments;
    const char* expected;
};

TEST(Format, ExpandsTheConversionsTheMessagesUse) {
    const FormatCase cases[] = {
        {"%s:%d %s: %@",
         {"VarnoAgentDelegate.cpp", 42, "-[A b]", "Hello"},
         "VarnoAgentDelegate.cpp:42 -[A b]: Hello"},
        {"in %llu seconds...", {QVariant::fromValue(qulonglong(30))}, "in 30 seconds..."},
        {"%ld %lu %qu %i %u %zd", {-1, 2, 3, 4, 5, 6}, "-1 2 3 4 5 6"},
        {"The queue \"%@\" will begin in %%d seconds...",
         {"Nightly"},
         "The queue \"Nightly\" will begin in %d seconds..."},
        // No argument for a conversion: nil, never memory that was not given.
        {"Connect to %@ failed.", {}, "Connect to (null) failed."},
        {"%d left", {}, "0 left"},
        // Conversions the system never uses stay as they stand.
        {"100% clean, %5d, %x, trailing %", {1}, "100% clean, %5d, %x, trailing %"},
        {"no conversions", {"ignored"}, "no conversions"},
    };
    for (const FormatCase& c : cases)
        EXPECT_EQ(app::format(QString::fromUtf8(c.format), c.arguments),
                  QString::fromUtf8(c.expected))
            << c.format;
}

TEST(Format, EscapedTextSurvivesUseAsAFormat) {
    for (const char* text : {"50% off", "%d %@ %%", "plain", ""}) {
        const QString s = QString::fromUtf8(text);
        EXPECT_EQ(app::format(app::escapedForFormat(s), {7}), s);
    }
}

TEST(Format, DescriptionsInTheOldStylePropertyListForm) {
    const QDateTime date = QDateTime(QDate(2009, 6, 1), QTime(8, 0), QTimeZone::utc());
    const QVariantMap map{{"Disabled", true},
                          {"Label", "com.kvxlabs.Varno2.agent"},
                          {"Program", "/Applications/Varno.app/x y"},
                          {"List", QVariantList{1, "two words"}},
                          {"When", date},
                          {"Bytes", QByteArray("\x00\xff", 2)}};
    EXPECT_EQ(app::description(map),
              "{\n"
              "    Bytes = <00ff>;\n"
              "    Disabled = 1;\n"
              "    Label = com.kvxlabs.Varno2.agent;\n"
              "    List = (\n"
              "        1,\n"
              "        \"two words\"\n"
              "    );\n"
              "    Program = \"/Applications/Varno.app/x y\";\n"
              "    When = \"2009-06-01 08:00:00 +0000\";\n"
              "}");
    EXPECT_EQ(app::description(QVariant()), "(null)");
    EXPECT_EQ(app::description(QStringLiteral("top level is not quoted")),
              "top level is not quoted");
    EXPECT_EQ(app::description(false), "0");
}

}  // namespace
