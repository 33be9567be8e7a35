// Rights: decided from the caller's real user and groups and the root-owned
// rules file, failing closed when that file cannot be trusted.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "plist/plist.h"
#include "support.h"

using namespace auth;
using namespace authtest;
using host::testing::SandboxRoot;

namespace {

constexpr const char* kOther = "com.kvxlabs.Varno.other";
constexpr const char* kAdmin = "system.privilege.admin";

std::string rulesGranting(const std::string& right, plist::Array groups) {
    plist::Dictionary rule = {{"groups", plist::Value(std::move(groups))}};
    plist::Dictionary rights = {{right, plist::Value(std::move(rule))}};
    return plist::writeXML(plist::Value(plist::Dictionary{{"rights", plist::Value(rights)}}));
}

class RulesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to own the rules";
        if (!sudoGroup()) GTEST_SKIP() << "no group named sudo here";
        sudo = *sudoGroup();
    }

    static OSStatus ask(const detail::Credentials& who, const char* right) {
        return detail::decideRights({{right, "", 0}}, who);
    }

    SandboxRoot sandbox;
    gid_t sudo = 0;
};

TEST_F(RulesTest, BuiltInRulesGrantAdministratorsOnly) {
    const detail::Credentials root{0, 0, {}}, nobody{kNobody, kNobody, {}},
        member{kNobody, kNobody, {100, sudo}}, primary{kNobody, sudo, {}};
    struct Case {
        const char* what;
        detail::Credentials who;
        const char* right;
        OSStatus expected;
    } cases[] = {
        {"root", root, detail::kExecuteRight, 0},
        {"no groups", nobody, detail::kExecuteRight, errAuthorizationDenied},
        {"supplementary sudo", member, detail::kExecuteRight, 0},
        {"primary sudo", primary, detail::kExecuteRight, 0},
        {"admin right, member", member, kAdmin, 0},
        {"admin right, no groups", nobody, kAdmin, errAuthorizationDenied},
        {"unknown right, member", member, kOther, errAuthorizationDenied},
        {"unknown right, root", root, kOther, errAuthorizationDenied},
    };
    for (const Case& c : cases) EXPECT_EQ(ask(c.who, c.right), c.expected) << c.what;
    // Every right asked for must be granted.
    EXPECT_EQ(detail::decideRights({{detail::kExecuteRight, "", 0}, {kOther, "", 0}}, member),
              errAuthorizationDenied);
    EXPECT_EQ(detail::decideRights({}, nobody), 0);
}

TEST_F(RulesTest, RulesFileReplacesTheBuiltInRules) {
    struct group* nogroup = getgrgid(kNobody);
    if (nogroup == nullptr) GTEST_SKIP() << "no group with gid 65534";
    sandbox.writeFile(detail::kRulesPath,
                      rulesGranting(detail::kExecuteRight, {plist::Value(nogroup->gr_name)}));
    const detail::Credentials root{0, 0, {}}, nobody{kNobody, kNobody, {}},
        member{1000, 1000, {sudo}};
    EXPECT_EQ(ask(nobody, detail::kExecuteRight), 0);
    EXPECT_EQ(ask(member, detail::kExecuteRight), errAuthorizationDenied);
    EXPECT_EQ(ask(root, detail::kExecuteRight), 0);
    EXPECT_EQ(ask(root, kAdmin), errAuthorizationDenied);
}

TEST_F(RulesTest, UntrustedOrUnreadableRulesRefuseEverything) {
    const std::string good = rulesGranting(detail::kExecuteRight, {plist::Value("sudo")});
    const std::string path = sandbox.real(detail::kRulesPath);
    std::string wrongType = rulesGranting(detail::kExecuteRight, {plist::Value::integer(27)});
    plist::Value extra(plist::Dictionary{{"rights", plist::Value(plist::Dictionary{})},
                                         {"default", plist::Value("allow")}});
    struct Case {
        const char* what;
        std::string content;
        mode_t mode;
        uid_t owner;
    } cases[] = {
        {"writable by others", good, 0666, 0},
        {"writable by its group", good, 0664, 0},
        {"owned by a user", good, 0644, kNobody},
        {"not a property list", "allow everyone", 0644, 0},
        {"empty", "", 0644, 0},
        {"a group that is no string", wrongType, 0644, 0},
        {"an unknown key", plist::writeXML(extra), 0644, 0},
        {"groups as a string",
         plist::writeXML(plist::Value(plist::Dictionary{
             {"rights", plist::Value(plist::Dictionary{
                            {detail::kExecuteRight, plist::Value(plist::Dictionary{
                                                        {"groups", plist::Value("sudo")}})}})}})),
         0644, 0},
    };
    const detail::Credentials root{0, 0, {}}, member{kNobody, kNobody, {sudo}};
    for (const Case& c : cases) {
        sandbox.writeFile(detail::kRulesPath, c.content, c.mode);
        ASSERT_EQ(chown(path.c_str(), c.owner, 0), 0);
        EXPECT_EQ(ask(member, detail::kExecuteRight), errAuthorizationInternal) << c.what;
        EXPECT_EQ(ask(root, detail::kExecuteRight), errAuthorizationInternal) << c.what;
    }
    // A link to a trusted file is not the rules file.
    std::string target = sandbox.writeFile("/elsewhere.plist", good);
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
    EXPECT_EQ(ask(member, detail::kExecuteRight), errAuthorizationInternal);

    ASSERT_EQ(unlink(path.c_str()), 0);
    sandbox.writeFile(detail::kRulesPath, good);
    EXPECT_EQ(ask(member, detail::kExecuteRight), 0);
}

// End to end: the groups are the kernel's view of the calling process, and a
// creation whose rights are refused leaves no record behind.
TEST_F(RulesTest, CallersGroupsComeFromTheKernel) {
    prepareStore();
    Installation inst(sandbox);
    auto records = [&] {
        auto it = std::filesystem::directory_iterator(sandbox.real(detail::kStorePath));
        return std::distance(it, std::filesystem::directory_iterator());
    };
    auto r = runProbe(inst, {kNobody, {}}, {"rights", detail::kExecuteRight});
    EXPECT_EQ(r.out, "rights -60005\n") << r.err;
    EXPECT_EQ(records(), 0);
    r = runProbe(inst, {kNobody, {sudo}}, {"rights", detail::kExecuteRight});
    EXPECT_EQ(r.out, "rights 0\n") << r.err;
    EXPECT_EQ(records(), 1);
}

}  // namespace
