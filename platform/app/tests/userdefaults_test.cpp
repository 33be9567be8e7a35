// User-defaults domains and property-list files: what is read, what is
// refused, and that a write replaces the file whole without losing anything.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QTimeZone>
#include <cmath>
#include <limits>

#include "app/plistbridge.h"
#include "app/userdefaults.h"
#include "host/testing.h"
#include "plist/plist.h"

namespace {

using app::FileState;

constexpr const char* kHome = "/Users/tester";
constexpr const char* kDomainPath = "/Users/tester/Library/Preferences/com.example.test.plist";

class UserDefaultsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_.writeFile("/etc/passwd",
                        "tester:*:" + std::to_string(getuid()) + ":20:T:" + kHome + ":/bin/sh\n");
    }
    host::testing::SandboxRoot root_;
};

plist::Value everyType() {
    plist::Dictionary inner;
    inner["nested"] = plist::Value(plist::Array{plist::Value("a"), plist::Value::integer(-1)});
    plist::Dictionary d;
    d["string"] = plist::Value("caf\xC3\xA9 & <tags>");
    d["big"] = plist::Value::unsignedInteger(18446744073709551615ull);
    d["real"] = plist::Value::real(0.1);
    d["false"] = plist::Value::boolean(false);
    d["date"] = plist::Value(plist::Date{700000000});
    d["data"] = plist::Value(plist::Data{0, 1, 255});
    d["dict"] = plist::Value(inner);
    d["empty"] = plist::Value(plist::Array{});
    return plist::Value(d);
}

TEST_F(UserDefaultsTest, TildeIsTheRunningUsersHomeUnderTheRoot) {
    EXPECT_EQ(app::homeFolder(), kHome);
    EXPECT_EQ(app::expandTildeInPath("~/Library/LaunchAgents/x.plist"),
              "/Users/tester/Library/LaunchAgents/x.plist");
    EXPECT_EQ(app::expandTildeInPath("/etc/~x"), "/etc/~x");
    EXPECT_EQ(app::persistentDomainPath("com.example.test"), kDomainPath);
    EXPECT_EQ(app::realPathForMachinePath(kDomainPath).toStdString(), root_.real(kDomainPath));
}

TEST_F(UserDefaultsTest, ReadsXMLAndBinaryDomainsWhole) {
    for (bool binary : {false, true}) {
        const plist::Value v = everyType();
        root_.writeFile(kDomainPath, binary ? plist::writeBinary(v) : plist::writeXML(v));
        app::DictionaryFile read = app::persistentDomainForName("com.example.test");
        ASSERT_EQ(read.state, FileState::Present) << binary;
        EXPECT_EQ(app::plistFromVariant(read.dictionary), v) << binary;
    }
}

TEST_F(UserDefaultsTest, TellsAMissingDomainFromOneItCannotRead) {
    EXPECT_EQ(app::persistentDomainForName("com.example.test").state, FileState::Missing);
    const std::pair<const char*, std::string> unreadable[] = {
        {"garbage", "not a property list"},
        {"empty file", ""},
        {"array root", plist::writeXML(plist::Value(plist::Array{plist::Value("x")}))},
        {"truncated", plist::writeXML(everyType()).substr(0, 200)},
    };
    for (const auto& [what, content] : unreadable) {
        root_.writeFile(kDomainPath, content);
        app::DictionaryFile read = app::persistentDomainForName("com.example.test");
        EXPECT_EQ(read.state, FileState::Unreadable) << what;
        EXPECT_TRUE(read.dictionary.isEmpty()) << what;
        EXPECT_FALSE(read.error.isEmpty()) << what;
    }
    unlink(root_.real(kDomainPath).c_str());
    root_.mkdirs(kDomainPath);
    EXPECT_EQ(app::persistentDomainForName("com.example.test").state, FileState::Unreadable);
    // A name that would lead out of the preferences folder is no domain.
    EXPECT_EQ(app::persistentDomainForName("../passwd").state, FileState::Unreadable);
    EXPECT_FALSE(app::setPersistentDomain({{"k", 1}}, "../../x"));
}

TEST_F(UserDefaultsTest, WritesXMLAtomicallyAndKeepsEveryValue) {
    const QVariantMap domain = app::mapFromPlist(*everyType().asDictionary());
    for (int round = 0; round < 2; ++round) {  // the second write replaces the first
        QString error;
        ASSERT_TRUE(app::setPersistentDomain(domain, "com.example.test", &error))
            << error.toStdString();
        EXPECT_EQ(root_.readFile(kDomainPath), plist::writeXML(everyType()));
    }
    struct stat st {};
    ASSERT_EQ(stat(root_.real(kDomainPath).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    // Nothing but the domain is left in the folder.
    const QStringList entries =
        QDir(QString::fromStdString(root_.real("/Users/tester/Library/Preferences")))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    EXPECT_EQ(entries, QStringList{"com.example.test.plist"});
}

TEST_F(UserDefaultsTest, RewritingKeepsTheFilesRightsButNeverALinksTargets) {
    const std::string path = root_.writeFile(kDomainPath, plist::writeXML(everyType()), 0640);
    // A privileged writer keeps another user's file theirs, set-ID bits and all.
    const bool root = host::testing::runningAsRoot();
    const mode_t mode = root ? 04640 : 0640;
    ASSERT_EQ(chown(path.c_str(), 65534, 65534) == 0, root);
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    ASSERT_TRUE(app::setPersistentDomain({{"k", 1}}, "com.example.test"));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    EXPECT_EQ(st.st_uid, before.st_uid);
    EXPECT_EQ(st.st_gid, before.st_gid);

    // A link in the file's place is replaced by a new file, which takes
    // nothing from what the link pointed at.
    const std::string target = root_.writeFile("/Users/tester/elsewhere", "kept", 0751);
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
    ASSERT_TRUE(app::setPersistentDomain({{"k", 2}}, "com.example.test"));
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(root_.readFile("/Users/tester/elsewhere"), "kept");
}

TEST_F(UserDefaultsTest, AWriteThatCannotBeMadeChangesNothing) {
    host::testing::TempDir dir;
    const QString missingFolder = QString::fromStdString(dir.path()) + "/no/such/x.plist";
    QString error;
    EXPECT_FALSE(app::writeDictionaryFile(missingFolder, {{"k", 1}}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QDir(QString::fromStdString(dir.path()) + "/no").exists());
    // A value with no property-list form: refused before any file is made.
    const QString path = QString::fromStdString(dir.path()) + "/y.plist";
    EXPECT_FALSE(app::writeDictionaryFile(path, {{"k", QVariant()}}, &error));
    EXPECT_TRUE(QDir(QString::fromStdString(dir.path())).isEmpty());
}

}  // namespace

// A date field holds any double; one that names no real moment still reads
// as a date that writes back the same, never as an overflowing count.
TEST(PlistBridge, DatesBeyondAnyRealMomentReadAsTheNearestEnd) {
    struct Case {
        double seconds;
        qint64 expectedMs;
    };
    const qint64 limit = qint64{1} << 53;
    for (const Case& c :
         {Case{1e300, limit}, Case{-1e300, -limit},
          Case{std::numeric_limits<double>::infinity(), limit},
          Case{std::nan(""), qint64{978307200000}}, Case{700000000.5, qint64{1678307200500}}}) {
        const QVariant date = app::variantFromPlist(plist::Value(plist::Date{c.seconds}));
        ASSERT_EQ(date.typeId(), QMetaType::QDateTime) << c.seconds;
        EXPECT_TRUE(date.toDateTime().isValid()) << c.seconds;
        EXPECT_EQ(date.toDateTime().toMSecsSinceEpoch(), c.expectedMs) << c.seconds;
        std::optional<plist::Value> back = app::plistFromVariant(date);
        ASSERT_TRUE(back.has_value()) << c.seconds;
        EXPECT_EQ(app::variantFromPlist(*back), date) << c.seconds;
    }
}
