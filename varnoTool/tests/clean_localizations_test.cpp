// Localization cleaning: its helpers in-process, the operation through the
// executor program on sandbox roots, and the shipped language code table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleaning_support.h"
#include "host/testing.h"
#include "operations/CleanLocalizations.h"
#include "plist/plist.h"

namespace {

using cleaning_test::progress;
using cleaning_test::runOperation;
using cleaning_test::sizeRecord;
using host::testing::RunResult;
using host::testing::SandboxRoot;

constexpr const char* kIdentifier = "KVXAECleanLocalizationsAuthExec";

TEST(LocalizationNames, FormattedNameIsTheCodeBeforeAnyRegion) {
    const std::pair<const char*, const char*> cases[] = {
        {"/Applications/A.app/Contents/Resources/English.lproj", "English"},
        {"/Applications/A.app/Contents/Resources/fr.lproj", "fr"},
        {"/Applications/A.app/Contents/Resources/pt_BR.lproj", "pt"},
        {"/Applications/A.app/Contents/Resources/zh_Hant_TW.lproj", "zh"},
        {"/Applications/A.app/Contents/Resources/fr.lproj/", "fr"},
        {"/A b/c.d/de_CH.lproj", "de"},
    };
    for (const auto& [path, name] : cases)
        EXPECT_EQ(formattedNameFromLProjPath(path), name) << path;
}

TEST(LocalizationNames, MatchingIsExactAndCaseSensitive) {
    const std::vector<std::string> names = {"French", "fr"};
    EXPECT_TRUE(matchesForRemoval("/x/French.lproj", names));
    EXPECT_TRUE(matchesForRemoval("/x/fr_CA.lproj", names));
    EXPECT_FALSE(matchesForRemoval("/x/FR.lproj", names));
    EXPECT_FALSE(matchesForRemoval("/x/french.lproj", names));
    EXPECT_FALSE(matchesForRemoval("/x/fra.lproj", names));
    EXPECT_FALSE(matchesForRemoval("/x/fr.lproj", {}));
}

TEST(LocalizationNames, URLsEscapeWhatPathsCannotCarry) {
    EXPECT_EQ(fileURLFromPath("/Applications/Movie Player.app/Contents/Resources", true),
              "file://localhost/Applications/Movie%20Player.app/Contents/Resources/");
    EXPECT_EQ(fileURLFromPath("/a/caf\xc3\xa9 100%#1;?[x]", false),
              "file://localhost/a/caf%C3%A9%20100%25%231%3B%3F%5Bx%5D");
    EXPECT_EQ(fileURLFromPath("/a/", true), "file://localhost/a/");
    EXPECT_EQ(urlCopyPath(fileURLFromPath("/a b/", true)), "/a%20b/");

    EXPECT_TRUE(urlEqualsURL(fileURLFromPath("/a/b", true), "file://localhost/a/b/"));
    EXPECT_TRUE(urlEqualsURL("file://localhost/a/b/", "/a/b/"));
    EXPECT_FALSE(urlEqualsURL(fileURLFromPath("/a/b", true), fileURLFromPath("/a/b", false)));
    EXPECT_FALSE(urlEqualsURL(fileURLFromPath("/a/B", true), fileURLFromPath("/a/b", true)));
}

// Every language the suite offers maps to the formatted name of its
// code-named folders: a plain code, regional variants sharing it.
TEST(LocalizationCodes, ShippedTableCoversTheLanguagesApplicationsShip) {
    std::string path = host::testing::bundlePath("Contents/Resources/LocalizationCodes.plist");
    FILE* f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr) << path;
    std::string text;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    fclose(f);
    auto table = plist::parse(text);
    ASSERT_TRUE(table && table->isDictionary());
    EXPECT_EQ(plist::writeXML(*table), text) << "not in the platform's own form";

    const std::pair<const char*, const char*> required[] = {
        {"English", "en"},
        {"French", "fr"},
        {"German", "de"},
        {"Japanese", "ja"},
        {"Spanish", "es"},
        {"Italian", "it"},
        {"Dutch", "nl"},
        {"Swedish", "sv"},
        {"Danish", "da"},
        {"Norwegian", "no"},
        {"Finnish", "fi"},
        {"Portuguese", "pt"},
        {"Brazilian Portuguese", "pt"},
        {"Korean", "ko"},
        {"Simplified Chinese", "zh"},
        {"Traditional Chinese", "zh"},
        {"Russian", "ru"},
        {"Polish", "pl"},
    };
    for (const auto& [language, code] : required) {
        const plist::Value* value = table->find(language);
        ASSERT_TRUE(value && value->asString()) << language;
        EXPECT_EQ(*value->asString(), code) << language;
    }
    for (const auto& [language, value] : *table->asDictionary()) {
        ASSERT_TRUE(value.asString()) << language;
        std::string code = *value.asString();
        EXPECT_EQ(formattedNameFromLProjPath("/x/" + code + ".lproj"), code) << language;
        EXPECT_EQ(formattedNameFromLProjPath("/x/" + code + "_XX.lproj"), code) << language;
    }
}

plist::Dictionary languages(const std::vector<std::string>& on,
                            const std::vector<std::string>& off = {}) {
    plist::Dictionary d;
    for (const std::string& l : on) d[l] = plist::Value::boolean(true);
    for (const std::string& l : off) d[l] = plist::Value::boolean(false);
    return d;
}

class CleanLocalizations : public ::testing::Test {
  protected:
    void SetUp() override { cleaning_test::buildSystem(root); }

    // A localization folder holding one file of `size` bytes.
    void lproj(const std::string& resources, const std::string& name, size_t size = 10) {
        root.writeFile(resources + "/" + name + ".lproj/Localizable.strings",
                       std::string(size, 'x'));
    }

    RunResult run(const plist::Dictionary& languages, const std::vector<std::string>& locations,
                  bool debug = false) {
        plist::Dictionary r = cleaning_test::request(kIdentifier, locations, debug);
        r["Languages"] = plist::Value(languages);
        RunResult result = runOperation(root, r);
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        return result;
    }

    SandboxRoot root;
};

constexpr const char* kWriter = "/Applications/Text Writer.app/Contents/Resources";

TEST_F(CleanLocalizations, LanguageRemovesItsNamedCodeAndRegionalFolders) {
    for (const char* name : {"English", "de", "fr", "fr_CA", "ja"}) lproj(kWriter, name);
    lproj(kWriter, "French", 0);
    root.writeFile(std::string(kWriter) + "/fr.lproj/MainMenu.nib/keyedobjects.nib", "12345");
    // Not a localization folder: the extension's letter case differs.
    root.writeFile(std::string(kWriter) + "/fr_BE.LPROJ/Localizable.strings", "x");

    // "German" is not selected; a language without a code adds its name only.
    RunResult r = run(languages({"French", "Klingon"}, {"German"}), {"UserApplications"});
    std::string w = kWriter;
    EXPECT_EQ(r.out, "\tScanning /Applications/...\n" + progress(0, 3) + "\tRemoving " + w +
                         "/French.lproj\n" + progress(0, 3) + "\tRemoving " + w + "/fr.lproj\n" +
                         progress(1, 3) + "\tRemoving " + w + "/fr_CA.lproj\n" + progress(2, 3) +
                         sizeRecord(kIdentifier, 0 + 10 + 5 + 10));
    for (const char* kept : {"English.lproj", "de.lproj", "ja.lproj", "fr_BE.LPROJ"})
        EXPECT_TRUE(root.exists(w + "/" + kept)) << kept;
    for (const char* gone : {"French.lproj", "fr.lproj", "fr_CA.lproj"})
        EXPECT_FALSE(root.exists(w + "/" + gone)) << gone;
}

TEST_F(CleanLocalizations, FolderThatWouldLoseEveryLocalizationIsSkipped) {
    const std::string player = "/Applications/Movie Player.app/Contents/Resources";
    lproj(player, "French");
    lproj(player, "fr_CA");
    // A framework's own localizations form a group of their own.
    const std::string kit =
        "/Applications/Text Writer.app/Contents/Frameworks/Kit.framework/Versions/A/Resources";
    lproj(kit, "fr");
    lproj(kWriter, "en");
    lproj(kWriter, "fr");

    RunResult r = run(languages({"French"}), {"UserApplications"});
    EXPECT_EQ(r.out,
              "\tScanning /Applications/...\n"
              "*** Skipping languages in /Applications/Movie%20Player.app/Contents/Resources/ "
              "because all languages would be removed!\n"
              "*** Skipping languages in /Applications/Text%20Writer.app/Contents/Frameworks/"
              "Kit.framework/Versions/A/Resources/ because all languages would be removed!\n" +
                  progress(0, 1) + "\tRemoving " + kWriter + "/fr.lproj\n" + progress(0, 1) +
                  sizeRecord(kIdentifier, 10));
    EXPECT_TRUE(root.exists(player + "/French.lproj"));
    EXPECT_TRUE(root.exists(player + "/fr_CA.lproj"));
    EXPECT_TRUE(root.exists(kit + "/fr.lproj"));
}

TEST_F(CleanLocalizations, NoLocationScansNothing) {
    lproj(kWriter, "en");
    lproj(kWriter, "fr");
    sandbox::TreeSnapshot before = sandbox::snapshotTree(root);
    RunResult r = run(languages({"French"}), {});
    EXPECT_EQ(r.out, progress(0, 0) + sizeRecord(kIdentifier, 0));
    EXPECT_EQ(sandbox::snapshotTree(root), before);
}

TEST_F(CleanLocalizations, LocationsAreScannedInTheirOrder) {
    lproj("/var/root/Applications/Mine.app/Contents/Resources", "en");
    lproj("/var/root/Applications/Mine.app/Contents/Resources", "fr");
    lproj("/System/Library/PreferencePanes/Sound.prefPane/Contents/Resources", "en");
    lproj("/System/Library/PreferencePanes/Sound.prefPane/Contents/Resources", "fr");
    RunResult r = run(languages({"French"}),
                      {"SystemPreferencePanes", "SystemCoreServices", "UserPreferencePanes",
                       "UserDeveloperApplications", "UserApplications", "LocalPreferencePanes",
                       "LocalApplications"});
    EXPECT_EQ(r.out,
              "\tScanning /var/root/Applications...\n"
              "\tScanning /var/root/Library/PreferencePanes...\n"
              "\tScanning /Applications/...\n"
              "\tScanning /Developer/Applications/...\n"
              "\tScanning /Library/PreferencePanes/...\n"
              "\tScanning /System/Library/CoreServices/...\n"
              "\tScanning /System/Library/PreferencePanes/...\n" +
                  progress(0, 2) +
                  "\tRemoving /var/root/Applications/Mine.app/Contents/Resources/fr.lproj\n" +
                  progress(0, 2) +
                  "\tRemoving /System/Library/PreferencePanes/Sound.prefPane/Contents/Resources/"
                  "fr.lproj\n" +
                  progress(1, 2) + sizeRecord(kIdentifier, 20));
}

TEST(CleanLocalizationsDebug, CountsAndChangesNothing) {
    host::testing::SandboxRoot filled;
    cleaning_test::buildSystem(filled, {"--user", "ann", "--content", "demo", "--fill", "1M"});
    sandbox::TreeSnapshot before = sandbox::snapshotTree(filled);
    plist::Dictionary r =
        cleaning_test::request(kIdentifier,
                               {"LocalApplications", "UserApplications", "UserPreferencePanes",
                                "SystemCoreServices", "SystemPreferencePanes"},
                               true);
    r["Languages"] = plist::Value(languages({"Japanese", "Korean", "Russian"}));
    RunResult debug = runOperation(filled, r);
    EXPECT_EQ(debug.exitStatus, 0);
    EXPECT_EQ(sandbox::snapshotTree(filled), before);
    EXPECT_NE(debug.out.find("\tDEBUG: Removing /Applications/"), std::string::npos);
    EXPECT_EQ(debug.out.find("\tRemoving "), std::string::npos);
    std::int64_t counted = cleaning_test::reportedTotal(debug.out);
    EXPECT_GT(counted, 0);

    r.erase("KVXAEDebugAuthExecConfigurationKey");
    RunResult real = runOperation(filled, r);
    EXPECT_EQ(cleaning_test::reportedTotal(real.out), counted);
    // The home folder scanned is that of the user who started the executor.
    for (const auto& [path, state] : sandbox::snapshotTree(filled)) {
        if (path.starts_with("/Users/")) continue;
        EXPECT_FALSE(path.ends_with("/ja.lproj") || path.ends_with("/Japanese.lproj") ||
                     path.ends_with("/ru.lproj"))
            << path;
    }
}

}  // namespace
