#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "Utilities.h"
#include "host/testing.h"
#include "utilities_support.h"

namespace {

using host::testing::SandboxRoot;
using utilities_test::captureOutput;
using utilities_test::RunState;

plist::Dictionary sample() {
    plist::Dictionary d;
    d["Label"] = plist::Value("com.kvxlabs.dynamic_pager_start");
    d["OnDemand"] = plist::Value::boolean(false);
    d["ProgramArguments"] = plist::Value(plist::Array{plist::Value("/sbin/x"), plist::Value("/")});
    return d;
}

TEST(DictionaryFiles, ReadXmlAndBinary) {
    SandboxRoot root;
    root.writeFile("/a.plist", plist::writeXML(plist::Value(sample())));
    root.writeFile("/b.plist", plist::writeBinary(plist::Value(sample())));
    for (const char* path : {"/a.plist", "/b.plist"}) {
        SCOPED_TRACE(path);
        std::optional<plist::Dictionary> d = dictionaryAtPath(std::string(path));
        ASSERT_TRUE(d.has_value());
        EXPECT_EQ(plist::Value(*d), plist::Value(sample()));
    }
}

TEST(DictionaryFiles, ReadFailuresAreReported) {
    SandboxRoot root;
    root.writeFile("/broken.plist", "<plist><dict><key>a</key></dict></plist>");
    root.writeFile("/array.plist", plist::writeXML(plist::Value(plist::Array{})));
    root.mkdirs("/folder.plist");
    EXPECT_EQ(dictionaryAtPath(std::nullopt), std::nullopt);
    std::optional<plist::Dictionary> d = plist::Dictionary{};
    EXPECT_EQ(captureOutput([&] { d = dictionaryAtPath(std::string("/missing.plist")); }),
              "\t***Error openning read stream in dictionaryAtPath.\n");
    EXPECT_FALSE(d.has_value());
    EXPECT_EQ(captureOutput([&] { d = dictionaryAtPath(std::string("/folder.plist")); }),
              "\t***Error openning read stream in dictionaryAtPath.\n");
    for (const char* path : {"/broken.plist", "/array.plist"}) {
        std::string out = captureOutput([&] { d = dictionaryAtPath(std::string(path)); });
        EXPECT_EQ(out.rfind("\t***Error creating dictionary in dictionaryAtPath: ", 0), 0u) << out;
        EXPECT_EQ(out.back(), '\n');
        EXPECT_FALSE(d.has_value());
    }
}

TEST(DictionaryFiles, WriteReplacesAtomicallyKeepingOwnerAndMode) {
    SandboxRoot root;
    std::string real = root.writeFile("/Library/Preferences/x.plist", "old", 0640);
    ASSERT_EQ(chown(real.c_str(), 65534, 65534) == 0, host::testing::runningAsRoot());
    struct stat before {};
    ASSERT_EQ(stat(real.c_str(), &before), 0);

    plist::Dictionary d = sample();
    EXPECT_TRUE(writeDictionaryToPath(&d, std::string("/Library/Preferences/x.plist")));
    EXPECT_EQ(root.readFile("/Library/Preferences/x.plist"), plist::writeXML(plist::Value(d)));
    struct stat after {};
    ASSERT_EQ(stat(real.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    // No temporary file is left beside it.
    EXPECT_EQ(directoryContentNames("/Library/Preferences"), std::vector<std::string>{"x.plist"});

    // A new file is readable by all and writable by its owner alone, whatever
    // the umask the executor was started with.
    const mode_t mask = umask(0);
    const bool written = writeDictionaryToPath(&d, std::string("/Library/Preferences/new.plist"));
    umask(mask);
    EXPECT_TRUE(written);
    ASSERT_EQ(stat(root.real("/Library/Preferences/new.plist").c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0644u);

    // Nothing to write: success, and the file stays as it is.
    EXPECT_TRUE(writeDictionaryToPath(nullptr, std::string("/Library/Preferences/x.plist")));
    EXPECT_TRUE(writeDictionaryToPath(&d, std::nullopt));
    EXPECT_EQ(root.readFile("/Library/Preferences/x.plist"), plist::writeXML(plist::Value(d)));

    bool ok = true;
    EXPECT_EQ(
        captureOutput([&] { ok = writeDictionaryToPath(&d, std::string("/no/such/x.plist")); }),
        "\t*** Error opening write stream in writeDictionaryToPath.\n");
    EXPECT_FALSE(ok);
}

TEST(DictionaryFiles, RemoveKeyExactSubstringAndDebug) {
    struct Case {
        const char* name;
        bool substring, debug;
        const char* announcement;
        std::vector<std::string> keysLeft;
    } cases[] = {
        {"exact",
         false,
         false,
         "\tRemoving key Recent from file /p.plist\n",
         {"NSRecentDocuments", "Other", "RecentItems"}},
        {"substring", true, false, "\tRemoving key Recent from file /p.plist\n", {"Other"}},
        {"debug",
         true,
         true,
         "\tDEBUG: Removing key Recent from file /p.plist\n",
         {"NSRecentDocuments", "Other", "Recent", "RecentItems"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SandboxRoot root;
        RunState state;
        AEDEBUG = c.debug;
        countTotalSizeRemoved = true;
        plist::Dictionary d;
        for (const char* k : {"Recent", "RecentItems", "NSRecentDocuments", "Other"})
            d[k] = plist::Value("v");
        root.writeFile("/p.plist", plist::writeBinary(plist::Value(d)));
        EXPECT_EQ(captureOutput(
                      [&] { removeKeyFromDictionary("Recent", "/p.plist", c.substring, true); }),
                  c.announcement);
        std::optional<plist::Dictionary> left = dictionaryAtPath(std::string("/p.plist"));
        ASSERT_TRUE(left.has_value());
        std::vector<std::string> keys;
        for (const auto& [k, v] : *left) keys.push_back(k);
        EXPECT_EQ(keys, c.keysLeft);
        // Rewriting a file is no removal: nothing is counted.
        EXPECT_EQ(totalSizeRemoved, 0);
    }
}

// A link a user made in their own folder leads neither reads nor rewrites
// into the machine's files.
TEST(PropertyListFiles, NoLinkAUserMadeIsFollowed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to hand a folder to a user";
    SandboxRoot root;
    RunState state;
    root.writeFile("/Library/Preferences/x.plist", "machine", 0600);
    root.mkdirs("/Users/evil");
    ASSERT_EQ(chown(root.real("/Users/evil").c_str(), 65534, 65534), 0);
    ASSERT_EQ(symlink("../../Library/Preferences", root.real("/Users/evil/prefs").c_str()), 0);
    plist::Dictionary d;
    d["LoginHook"] = plist::Value("evil");
    std::string out = captureOutput([&] {
        EXPECT_FALSE(dictionaryAtPath(std::string("/Users/evil/prefs/x.plist")));
        EXPECT_FALSE(writeDictionaryToPath(&d, std::string("/Users/evil/prefs/x.plist")));
    });
    EXPECT_EQ(root.readFile("/Library/Preferences/x.plist"), "machine");
}

TEST(Resources, PathInsideTheMainBundle) {
    SandboxRoot root;
    std::string path = pathForResourceNamed("LocalizationCodes.plist");
    EXPECT_EQ(path.substr(path.size() - 43), "/Contents/Resources/LocalizationCodes.plist");
}

// The executor's own files are used only where no one but root could have
// put or changed them.
TEST(Resources, OwnResourcesOnlyWhereOnlyRootCouldChangeThem) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to hand files to others";
    struct Case {
        const char* name;
        void (*spoil)(const SandboxRoot&);
        int error;  // 0: opened
    } cases[] = {
        {"root's", [](const SandboxRoot&) {}, 0},
        {"sticky folder on the way", [](const SandboxRoot& r) { chmod(r.real("/R").c_str(), 01777); }, 0},
        {"file of another user",
         [](const SandboxRoot& r) { (void)!chown(r.real("/R/Res/tool").c_str(), 65534, 0); }, EPERM},
        {"folder others may write", [](const SandboxRoot& r) { chmod(r.real("/R/Res").c_str(), 0757); },
         EPERM},
        {"folder another group may write",
         [](const SandboxRoot& r) {
             (void)!chown(r.real("/R/Res").c_str(), 0, 65534);
             chmod(r.real("/R/Res").c_str(), 0775);
         },
         EPERM},
        {"a link",
         [](const SandboxRoot& r) {
             rename(r.real("/R/Res/tool").c_str(), r.real("/R/Res/real").c_str());
             (void)!symlink("real", r.real("/R/Res/tool").c_str());
         },
         ELOOP},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SandboxRoot root;
        root.writeFile("/R/Res/tool", "x", 0755);
        c.spoil(root);
        utilities_seams::resourcesFolder = root.real("/R/Res");
        int fd = openOwnResource("tool");
        int error = fd < 0 ? errno : 0;
        if (fd >= 0) close(fd);
        EXPECT_EQ(error, c.error);
    }
    utilities_seams::resourcesFolder.clear();
}

}  // namespace
