// Emptying the trash: which folders, what is announced, debug mode, and
// whether a secure empty really destroys the data.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Protocol.h"
#include "executor_harness.h"
#include "operations/SystemSettings.h"
#include "sandbox/sandbox.h"

namespace {

using executor_test::frame;
using executor_test::rootAuthorizationForm;
using executor_test::runExecutor;
using host::testing::RunResult;
using host::testing::SandboxRoot;

constexpr const char* kEmptyTrash = "KVXAEForceSecureEmptyTrashAuthExec";

std::string removing(const std::string& folder, bool debug = false) {
    return std::string("\t") + (debug ? "DEBUG: " : "") + "Removing contents of " + folder + "\n";
}

plist::Dictionary emptyTrash(const std::vector<std::string>& mountPoints,
                             std::optional<int> method = std::nullopt, bool debug = false) {
    plist::Dictionary r = executor_test::request(kEmptyTrash, debug);
    if (!mountPoints.empty()) {
        plist::Array array;
        for (const std::string& m : mountPoints) array.push_back(plist::Value(m));
        r["MountPoint"] = plist::Value(array);
    }
    if (method) r["ForceSecureEmptyTrashDeletionMethod"] = plist::Value::integer(*method);
    return r;
}

bool holdsOriginal(const std::optional<std::string>& data, char fill) {
    return data && data->find(std::string(64, fill)) != std::string::npos;
}

class Trash : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "the executor tests run as root";
        sandbox::BuildOptions options;
        options.users = {"ann:65534"};
        sandbox::build(root, options);
    }

    RunResult run(const plist::Dictionary& r) {
        RunResult result = runExecutor(frame(rootAuthorizationForm(), r));
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        return result;
    }

    SandboxRoot root;
};

TEST_F(Trash, WithoutMountPointsOnlyTheHomeTrashIsEmptiedAndAnnouncedEvenWhenMissing) {
    root.writeFile("/.Trashes/0/kept", "x");
    sandbox::TreeSnapshot before = sandbox::snapshotTree(root);
    EXPECT_EQ(run(emptyTrash({})).out, removing("/var/root/.Trash"));
    EXPECT_EQ(sandbox::snapshotTree(root), before);

    root.writeFile("/var/root/.Trash/old", "x");
    root.writeFile("/var/root/.Trash/.hidden/deeper", "x");
    EXPECT_EQ(run(emptyTrash({})).out, removing("/var/root/.Trash"));
    EXPECT_TRUE(root.exists("/var/root/.Trash"));
    EXPECT_FALSE(root.exists("/var/root/.Trash/old"));
    EXPECT_FALSE(root.exists("/var/root/.Trash/.hidden"));
    EXPECT_TRUE(root.exists("/.Trashes/0/kept"));
}

TEST_F(Trash, EachVolumesFolderOfTheUserIsEmptiedInRequestOrder) {
    root.writeFile("/var/root/.Trash/a", "x");
    root.writeFile("/.Trashes/0/b/c", "x");
    root.writeFile("/.Trashes/501/someone-elses", "x");
    root.writeFile("/Volumes/Data/.Trashes/0/d", "x");
    // A ".Trashes" without the user's folder is skipped.
    root.writeFile("/Volumes/NoUser/.Trashes/501/e", "x");
    root.mkdirs("/Volumes/None");
    // The trash is inside the volume, not a folder beside it.
    root.mkdirs("/Volumes/Sibling");
    root.writeFile("/Volumes/Sibling.Trashes/0/f", "x");
    // A link in place of a volume's trash leads nowhere.
    root.writeFile("/private/tmp/elsewhere/0/g", "x");
    root.mkdirs("/Volumes/Linked");
    ASSERT_EQ(symlink("/private/tmp/elsewhere", root.real("/Volumes/Linked/.Trashes").c_str()), 0);

    RunResult r = run(emptyTrash({"/Volumes/Data", "/", "/Volumes/NoUser", "/Volumes/None",
                                  "/Volumes/Sibling", "/Volumes/Linked", "/Volumes/Missing"}));
    EXPECT_EQ(r.out, removing("/var/root/.Trash") + removing("/Volumes/Data/.Trashes/0") +
                         removing("/.Trashes/0"));
    for (const char* gone : {"/var/root/.Trash/a", "/.Trashes/0/b", "/Volumes/Data/.Trashes/0/d"})
        EXPECT_FALSE(root.exists(gone)) << gone;
    for (const char* kept : {"/var/root/.Trash", "/.Trashes/0", "/Volumes/Data/.Trashes/0",
                             "/.Trashes/501/someone-elses", "/Volumes/NoUser/.Trashes/501/e",
                             "/Volumes/Sibling.Trashes/0/f", "/private/tmp/elsewhere/0/g"})
        EXPECT_TRUE(root.exists(kept)) << kept;
}

TEST_F(Trash, DebugModeAnnouncesAndDeletesNothing) {
    root.writeFile("/var/root/.Trash/a", "x");
    root.writeFile("/.Trashes/0/b", "x");
    sandbox::TreeSnapshot before = sandbox::snapshotTree(root);
    EXPECT_EQ(run(emptyTrash({"/"}, 3, true)).out,
              removing("/var/root/.Trash", true) + removing("/.Trashes/0", true));
    EXPECT_EQ(sandbox::snapshotTree(root), before);
}

// The test keeps a second name for a file in the trash: after a secure empty
// the data behind it is no longer the original; after a plain one it is.
TEST_F(Trash, ASecureEmptyReallyOverwritesTheUsersData) {
    struct Case {
        const char* name;
        std::optional<int> method;
        bool ownedByOther;
        bool destroyed;
    } cases[] = {
        {"no method", std::nullopt, false, false},
        {"plain", 0, false, false},
        {"one pass", 1, false, true},
        {"seven passes", 2, false, true},
        {"thirty-five passes", 3, false, true},
        {"unknown method", 7, false, false},
        {"another user's file", 1, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string real =
            root.writeFile("/var/root/.Trash/folder/secret", std::string(50000, 'S'));
        root.mkdirs("/Users/Shared/kept");
        ASSERT_EQ(link(real.c_str(), root.real("/Users/Shared/kept/secret").c_str()), 0);
        if (c.ownedByOther) {
            ASSERT_EQ(chown(real.c_str(), 65534, 20), 0);
        }

        run(emptyTrash({}, c.method));

        EXPECT_FALSE(root.exists("/var/root/.Trash/folder"));
        std::optional<std::string> linked = root.readFile("/Users/Shared/kept/secret");
        ASSERT_TRUE(linked);
        EXPECT_EQ(linked->size(), 50000u);
        EXPECT_EQ(holdsOriginal(linked, 'S'), !c.destroyed);
        ASSERT_EQ(unlink(root.real("/Users/Shared/kept/secret").c_str()), 0);
    }
}

// Methods stored as reals, as some callers write numbers: a whole real is its
// method; anything that is no whole 32-bit number deletes nothing.
TEST_F(Trash, AMethodStoredAsARealIsThatMethodAndABadOneDeletesNothing) {
    struct Case {
        const char* name;
        plist::Value method;
        bool refused;
        bool destroyed;
    } cases[] = {
        {"1.0", plist::Value::real(1.0), false, true},
        {"0.0", plist::Value::real(0), false, false},
        {"1.5", plist::Value::real(1.5), true, false},
        {"2^32 + 1", plist::Value::integer(4294967297), true, false},
        {"text", plist::Value("1"), true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string real = root.writeFile("/var/root/.Trash/secret", std::string(50000, 'S'));
        root.mkdirs("/Users/Shared/kept");
        ASSERT_EQ(link(real.c_str(), root.real("/Users/Shared/kept/secret").c_str()), 0);
        plist::Dictionary r = emptyTrash({});
        r["ForceSecureEmptyTrashDeletionMethod"] = c.method;

        RunResult result = runExecutor(frame(rootAuthorizationForm(), r));

        EXPECT_EQ(result.exitStatus, c.refused ? 255 : 0);
        EXPECT_EQ(result.out, c.refused ? "\t*** Error: invalid deletion method.\n"
                                        : removing("/var/root/.Trash"));
        EXPECT_EQ(root.exists("/var/root/.Trash/secret"), c.refused);
        EXPECT_EQ(holdsOriginal(root.readFile("/Users/Shared/kept/secret"), 'S'), !c.destroyed);
        ASSERT_EQ(unlink(root.real("/Users/Shared/kept/secret").c_str()), 0);
        unlink(real.c_str());
    }
}

// Each method has its own overwrite; the option values are not in the
// methods' order, and a secure empty cannot tell them apart by its result.
TEST(TrashDeletionOption, EachMethodHasItsOwnOption) {
    const std::pair<std::int32_t, vfs::removefile_flags_t> cases[] = {
        {0, 0}, {1, 16}, {2, 4}, {3, 8}, {4, 0}, {-1, 0}};
    for (const auto& [method, option] : cases) EXPECT_EQ(deletionOption(method), option) << method;
}

// Run for a user: their home trash and their folder in each ".Trashes". A
// hard link to a file of the superuser's, planted in the user's trash, is
// only unlinked by a secure empty; the user's own linked file is destroyed.
TEST_F(Trash, AUsersTrashAndLinksPlantedInIt) {
    std::string own = root.writeFile("/Users/ann/.Trash/own", std::string(4000, 'A'));
    ASSERT_EQ(chown(own.c_str(), 65534, 20), 0);
    ASSERT_EQ(link(own.c_str(), root.real("/Users/ann/Documents/own").c_str()), 0);
    std::string system = root.writeFile("/private/etc/system-file", std::string(4000, 'R'));
    ASSERT_EQ(link(system.c_str(), root.real("/Users/ann/.Trash/planted").c_str()), 0);
    root.writeFile("/.Trashes/65534/x", "x");
    root.writeFile("/.Trashes/0/kept", "x");

    plist::Dictionary parameters = emptyTrash({"/"}, 1);
    ASSERT_EQ(setreuid(65534, 0), 0);
    int status = -1;
    std::string out =
        executor_test::captureStdout([&] { status = forceSecureEmptyTrash(parameters); });
    ASSERT_EQ(setreuid(0, 0), 0);

    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, removing("/Users/ann/.Trash") + removing("/.Trashes/65534"));
    EXPECT_FALSE(root.exists("/Users/ann/.Trash/own"));
    EXPECT_FALSE(root.exists("/Users/ann/.Trash/planted"));
    EXPECT_FALSE(root.exists("/.Trashes/65534/x"));
    EXPECT_TRUE(root.exists("/.Trashes/0/kept"));
    EXPECT_FALSE(holdsOriginal(root.readFile("/Users/ann/Documents/own"), 'A'));
    EXPECT_EQ(root.readFile("/private/etc/system-file"), std::string(4000, 'R'));
}

// A volume reached through a link, or a user's folder in ".Trashes" that
// belongs to someone else, is not the user's trash: nothing there is emptied.
TEST_F(Trash, FoldersReachedThroughLinksOrOwnedByOthersAreLeftAlone) {
    root.writeFile("/private/var/folders/zz/.Trashes/65534/victim", "x");
    ASSERT_EQ(symlink("../private/var/folders/zz", root.real("/Volumes/Evil").c_str()), 0);
    root.writeFile("/Volumes/Shared/.Trashes/65534/others", "x");
    ASSERT_EQ(chown(root.real("/Volumes/Shared/.Trashes/65534").c_str(), 501, 20), 0);
    root.writeFile("/Volumes/Stick/.Trashes/65534/mine", "x");
    ASSERT_EQ(chown(root.real("/Volumes/Stick/.Trashes/65534").c_str(), 65534, 20), 0);

    plist::Dictionary parameters = emptyTrash({"/Volumes/Evil", "/Volumes/Shared", "/Volumes/Stick"});
    ASSERT_EQ(setreuid(65534, 0), 0);
    std::string out = executor_test::captureStdout([&] { forceSecureEmptyTrash(parameters); });
    ASSERT_EQ(setreuid(0, 0), 0);

    EXPECT_EQ(out, removing("/Users/ann/.Trash") + removing("/Volumes/Stick/.Trashes/65534"));
    EXPECT_TRUE(root.exists("/private/var/folders/zz/.Trashes/65534/victim"));
    EXPECT_TRUE(root.exists("/Volumes/Shared/.Trashes/65534/others"));
    EXPECT_FALSE(root.exists("/Volumes/Stick/.Trashes/65534/mine"));
}

}  // namespace
