// The Qt side's small classes, in process: the property-list bridge, progress
// arithmetic, sizes and statuses in words.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimeZone>
#include <cmath>
#include <limits>

#include "app/plistbridge.h"
#include "plistreport.h"
#include "progresstracker.h"
#include "runoutcome.h"

namespace {

plist::Value everyType() {
    plist::Dictionary d;
    d["string"] = plist::Value("caf\xC3\xA9");
    d["integer"] = plist::Value::integer(-42);
    d["big"] = plist::Value::unsignedInteger(18446744073709551615ull);
    d["real"] = plist::Value::real(0.5);
    d["true"] = plist::Value::boolean(true);
    d["date"] = plist::Value(plist::Date{700000000});
    d["data"] = plist::Value(plist::Data{0, 1, 255});
    d["array"] = plist::Value(plist::Array{plist::Value("a"), plist::Value::integer(1)});
    d["empty"] = plist::Value(plist::Dictionary{});
    return plist::Value(d);
}

TEST(PlistBridge, EveryTypeGoesToQtAndBackUnchanged) {
    const plist::Value original = everyType();
    const QVariant v = app::variantFromPlist(original);
    const QVariantMap map = v.toMap();
    EXPECT_EQ(map.value("string").toString(), QStringLiteral("caf\u00e9"));
    EXPECT_EQ(map.value("integer").typeId(), QMetaType::LongLong);
    EXPECT_EQ(map.value("big").typeId(), QMetaType::ULongLong);
    EXPECT_EQ(map.value("true").typeId(), QMetaType::Bool);
    EXPECT_EQ(map.value("date").toDateTime(),
              QDateTime::fromSecsSinceEpoch(978307200 + 700000000, QTimeZone::utc()));
    EXPECT_EQ(map.value("data").toByteArray(), QByteArray("\x00\x01\xff", 3));
    auto back = app::plistFromVariant(v);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, original);
    EXPECT_EQ(plist::writeXML(*back), plist::writeXML(original));
}

TEST(PlistBridge, RefusesValuesWithoutAPropertyListForm) {
    QString error;
    EXPECT_FALSE(app::plistFromVariant(QVariantMap{{"x", QVariant()}}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(app::plistFromVariant(QStringList{"a", "b"}));
}

TEST(ProgressTracker, PositionsIncrementsAndEstimates) {
    varno::ProgressTracker t;
    t.reset(40);
    EXPECT_EQ(t.fraction(), 0.0);
    t.update(10, -1);
    t.update(10, -1);
    EXPECT_DOUBLE_EQ(*t.fraction(), 0.5);
    EXPECT_DOUBLE_EQ(*t.estimateRemaining(10), 10);
    t.update(30, -1);  // more than announced: full, not beyond
    EXPECT_DOUBLE_EQ(*t.fraction(), 1.0);

    t.reset(0);
    EXPECT_FALSE(t.fraction());  // increments with nothing announced
    t.update(10, -1);
    EXPECT_FALSE(t.fraction());
    t.update(3, 12);
    EXPECT_DOUBLE_EQ(*t.fraction(), 0.25);
    t.update(0, 0);  // "0 of 0" says nothing new
    EXPECT_DOUBLE_EQ(*t.fraction(), 0.25);
    t.update(NAN, 5);
    EXPECT_DOUBLE_EQ(*t.fraction(), 0.25);
    t.complete();
    EXPECT_DOUBLE_EQ(*t.fraction(), 1.0);
    EXPECT_FALSE(t.estimateRemaining(10));
}

TEST(RunOutcome, SizesAndStatusesInWords) {
    const std::pair<qint64, const char*> sizes[] = {
        {0, "0 bytes"},       {1, "1 byte"},
        {1023, "1023 bytes"}, {1024, "1.0 KB"},
        {1536, "1.5 KB"},     {3000, "2.9 KB"},
        {5 << 20, "5.0 MB"},  {(3ll << 30) + (1ll << 29), "3.5 GB"},
    };
    for (const auto& [bytes, text] : sizes) EXPECT_EQ(varno::humanSize(bytes), text) << bytes;
    // A status is the executor's only where its own message ends the run;
    // otherwise it is the operation's.
    const QString swap = "KVXAESetSwapVolumeAuthExec";
    const QString caches = "KVXAEUserSystemCleanCachesAuthExec";
    const struct {
        QString identifier;
        int status;
        QString output;
        QString meaning;
    } statuses[] = {
        {caches, 155, "Error -60005 authorizing.", "authorization denied"},
        {caches, 21, "Error reading parametersDict: Success (0)\n",
         "the request did not arrive whole"},
        {caches, 3, "", "operation status 3"},
        {"KVXAENoSuchAuthExec", 7, "", "the executor does not know the operation"},
        {swap, 17, "Error reading externalAuthorizationRef: Success (0)\n",
         "no authorization reached the executor"},
        {swap, 15, "\t***************** This is a bad thing. *****************\n",
         "the system pager's launch daemon could not be recreated"},
        {swap, 16, "\t***Error copying wait tool: Read-only file system (30). Aborting.\n",
         "the swap start tool could not be copied into /sbin"},
        {swap, 17, "\t***Error setting uid/gid on wait tool: Permission denied (13). Aborting.\n",
         "the swap start tool's owner and group could not be set"},
        {swap, 20, "\t***Error disabling deafult launch daemon: x (2).\nYou may want to check\n",
         "the system pager's launch daemon could not be moved aside"},
        {"KVXAESetNetworkParametersAuthExec", 4, "\t*** Error: Parameter out of allowed range.\n",
         "a value is out of range, or sysctl.conf could not be written"},
    };
    for (const auto& s : statuses)
        EXPECT_EQ(varno::exitStatusMeaning(s.identifier, s.status, s.output), s.meaning)
            << s.identifier.toStdString() << " " << s.status;

    varno::RunOutcome o;
    o.identifier = "KVXAECleanBinariesAuthExec";
    // Only records of the requested operation count.
    o.records << QVariantMap{{"KVXAEDictionaryIdentifierAuthExecOutputIdentifier", o.identifier},
                             {"KVXAETotalSizeRemovedAuthExecDictionaryOutputKey", 2048}}
              << QVariantMap{{"KVXAEDictionaryIdentifierAuthExecOutputIdentifier", "Other"},
                             {"KVXAETotalSizeRemovedAuthExecDictionaryOutputKey", 99}}
              << QVariantMap{{"KVXAEDictionaryIdentifierAuthExecOutputIdentifier",
                              "KVXAEResultsDisablePreferenceFilesAuthExecDictionaryOutputKey"},
                             {"KVXAEDisabledFilesDisablePreferenceFilesExecutorDidEndInfoKey",
                              QVariantList{"a", "b"}},
                             {"KVXAEErrorFilesDisablePreferenceFilesExecutorDidEndInfoKey",
                              QVariantList{"c"}}};
    EXPECT_EQ(o.bytesRemoved(), 2048);
    EXPECT_EQ(varno::describeResults(o), (QStringList{"2.0 KB removed", "2 preference files moved",
                                                      "1 preference file not moved"}));
}

// Sizes come from records the executor wrote; no value may wrap, crash or
// turn a huge total negative.
TEST(RunOutcome, SizesOverTheWholeRangeFormatAndSumWithoutWrapping) {
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    constexpr qint64 kMin = std::numeric_limits<qint64>::min();
    const std::pair<qint64, const char*> sizes[] = {
        {kMin, "-8.0 EB"}, {kMax, "8.0 EB"}, {-1, "-1 byte"}, {-1536, "-1.5 KB"}};
    for (const auto& [bytes, text] : sizes) EXPECT_EQ(varno::humanSize(bytes), text) << bytes;

    auto outcome = [](QVariantList values) {
        varno::RunOutcome o;
        o.identifier = "KVXAEUserSystemCleanCachesAuthExec";
        for (const QVariant& size : values)
            o.records << QVariantMap{
                {"KVXAEDictionaryIdentifierAuthExecOutputIdentifier", o.identifier},
                {"KVXAETotalSizeRemovedAuthExecDictionaryOutputKey", size}};
        return o;
    };
    const std::pair<QVariantList, qint64> sums[] = {
        {{kMax, kMax}, kMax},
        {{kMin, kMin}, kMin},
        {{kMax, -5}, kMax - 5},
        {{QVariant::fromValue(std::numeric_limits<quint64>::max())}, kMax},
        {{QVariant::fromValue(quint64{1} << 63), 1}, kMax},
    };
    for (const auto& [values, sum] : sums) EXPECT_EQ(outcome(values).bytesRemoved(), sum);

    const QVariantMap report = varno::plistReport({outcome({kMax}), outcome({1})});
    EXPECT_EQ(report.value("BytesRemoved").toLongLong(), kMax);
}

}  // namespace
