// Authorizations and their external forms: who may present which form, and
// when a record no longer counts.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>

#include "support.h"

using namespace auth;
using namespace authtest;
using host::testing::SandboxRoot;

namespace {

class AuthorizationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "needs root to own the store";
        prepareStore();
    }

    std::string create() {
        AuthorizationRef ref;
        EXPECT_EQ(AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref), 0);
        AuthorizationExternalForm form;
        EXPECT_EQ(AuthorizationMakeExternalForm(*ref, &form), 0);
        return detail::hexOf(form.bytes);
    }

    static OSStatus present(const std::string& hex) {
        AuthorizationExternalForm form;
        form.bytes = detail::handleFromHex(hex).value();
        AuthorizationRef ref;
        return AuthorizationCreateFromExternalForm(form, &ref);
    }

    SandboxRoot sandbox;
};

TEST_F(AuthorizationTest, FormRoundTripsUntilDestroyed) {
    AuthorizationRef ref;
    ASSERT_EQ(AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref), 0);
    AuthorizationExternalForm form;
    ASSERT_EQ(AuthorizationMakeExternalForm(*ref, &form), 0);
    std::string hex = detail::hexOf(form.bytes);

    struct stat st {};
    ASSERT_EQ(lstat(recordPath(sandbox, hex).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(lstat(sandbox.real(detail::kStorePath).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01733u);
    EXPECT_EQ(st.st_uid, 0u);

    AuthorizationRef again;
    ASSERT_EQ(AuthorizationCreateFromExternalForm(form, &again), 0);
    EXPECT_EQ(AuthorizationCopyRights(*again, {{detail::kExecuteRight, "", 0}}, 3), 0);
    // Releasing without destroying keeps the record for the other holders.
    EXPECT_EQ(AuthorizationFree(std::move(again), kAuthorizationFlagDefaults), 0);
    EXPECT_EQ(present(hex), 0);

    EXPECT_EQ(AuthorizationFree(std::move(ref), kAuthorizationFlagDestroyRights), 0);
    EXPECT_FALSE(sandbox.exists(std::string(detail::kStorePath) + "/" + hex));
    EXPECT_EQ(present(hex), errAuthorizationInvalidRef);
}

TEST_F(AuthorizationTest, ForgedFormsAreRefused) {
    std::string real = create();
    std::string flipped = real;
    flipped[10] = flipped[10] == '0' ? '1' : '0';
    EXPECT_EQ(present(std::string(64, '0')), errAuthorizationInvalidRef);
    EXPECT_EQ(present(flipped), errAuthorizationInvalidRef);
    EXPECT_EQ(present(real), 0);
}

TEST_F(AuthorizationTest, FormsBelongToTheUserWhoCreatedThem) {
    Installation inst(sandbox);
    std::string nobodys = createAs(inst, {kNobody, {}});
    struct stat st {};
    ASSERT_EQ(lstat(recordPath(sandbox, nobodys).c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    std::string roots = create();
    struct Case {
        std::string form;
        uid_t presenter;
        std::string expected;
    } cases[] = {
        {nobodys, kNobody, "present 0\n"},
        {nobodys, kNobody - 1, "present -60002\n"},
        {roots, kNobody, "present -60002\n"},
    };
    for (const Case& c : cases) {
        auto r = runProbe(inst, {c.presenter, {}}, {"present", c.form});
        EXPECT_EQ(r.out, c.expected) << "presenter " << c.presenter << " " << r.err;
    }
    // Root may present anyone's form.
    EXPECT_EQ(present(nobodys), 0);
}

TEST_F(AuthorizationTest, UnprivilegedCreateNeedsTheStore) {
    SandboxRoot fresh;
    Installation inst(fresh);
    auto r = runProbe(inst, {kNobody, {}}, {"create"});
    EXPECT_EQ(r.out, "create -60008\n");
    EXPECT_FALSE(fresh.exists(detail::kStorePath));
}

TEST_F(AuthorizationTest, RecordsMustBeGenuineAndFresh) {
    const std::int64_t now = time(nullptr);
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> spoil;
    } cases[] = {
        {"created long ago", [](auto& p) { std::ofstream(p) << "0\n"; }},
        {"expired", [&](auto& p) { std::ofstream(p) << now - detail::kLifetimeSeconds << "\n"; }},
        {"created in the future", [&](auto& p) { std::ofstream(p) << now + 3600 << "\n"; }},
        {"garbage", [](auto& p) { std::ofstream(p) << "soon\n"; }},
        {"empty", [](auto& p) { std::ofstream(p, std::ios::trunc); }},
        {"writable by others", [](auto& p) { chmod(p.c_str(), 0602); }},
        {"hard-linked", [](auto& p) { ASSERT_EQ(link(p.c_str(), (p + "x").c_str()), 0); }},
        {"a symbolic link",
         [](auto& p) {
             ASSERT_EQ(rename(p.c_str(), (p + "x").c_str()), 0);
             ASSERT_EQ(symlink((p + "x").c_str(), p.c_str()), 0);
         }},
        {"a FIFO",
         [](auto& p) {
             ASSERT_EQ(unlink(p.c_str()), 0);
             ASSERT_EQ(mkfifo(p.c_str(), 0600), 0);
         }},
    };
    for (const Case& c : cases) {
        std::string hex = create();
        c.spoil(recordPath(sandbox, hex));
        EXPECT_EQ(present(hex), errAuthorizationInvalidRef) << c.what;
    }
    // Still within its lifetime: accepted.
    std::string hex = create();
    std::ofstream(recordPath(sandbox, hex)) << now - detail::kLifetimeSeconds + 60 << "\n";
    EXPECT_EQ(present(hex), 0);
}

TEST_F(AuthorizationTest, AStoreOthersControlIsNotTrusted) {
    std::string hex = create();
    std::string store = sandbox.real(detail::kStorePath);
    for (auto spoil : {+[](const char* p) { return chmod(p, 0777); },
                       +[](const char* p) { return chmod(p, 0733); },
                       +[](const char* p) { return chown(p, kNobody, kNobody); }}) {
        ASSERT_EQ(spoil(store.c_str()), 0);
        EXPECT_EQ(present(hex), errAuthorizationInternal);
        AuthorizationRef ref;
        EXPECT_EQ(AuthorizationCreate(nullptr, 0, &ref), errAuthorizationInternal);
        ASSERT_EQ(chown(store.c_str(), 0, 0), 0);
        ASSERT_EQ(chmod(store.c_str(), 01733), 0);
    }
    EXPECT_EQ(present(hex), 0);
}

TEST_F(AuthorizationTest, PrivilegedReferenceOnlyWithTheHandedDownHandle) {
    AuthorizationRef ref;
    unsetenv(kPrivilegedReferenceVariable);
    EXPECT_EQ(AuthorizationCopyPrivilegedReference(&ref, 0), errAuthorizationInternal);
    setenv(kPrivilegedReferenceVariable, "not a handle", 1);
    EXPECT_EQ(AuthorizationCopyPrivilegedReference(&ref, 0), errAuthorizationInternal);
    setenv(kPrivilegedReferenceVariable, std::string(64, 'a').c_str(), 1);
    EXPECT_EQ(AuthorizationCopyPrivilegedReference(&ref, 0), errAuthorizationInvalidRef);

    // A user who sets the variable himself gets nothing.
    Installation inst(sandbox);
    std::string nobodys = createAs(inst, {kNobody, {}});
    host::testing::RunOptions o;
    o.argv = {inst.probe(), "tool"};
    o.env = {{kPrivilegedReferenceVariable, nobodys}};
    o.uid = kNobody;
    auto r = host::testing::run(o);
    EXPECT_NE(r.out.find("privref=-60008\n"), std::string::npos) << r.out;

    // Root holding a live handle is what a privileged launch produces; the
    // handle is not passed on to what the tool starts in turn.
    setenv(kPrivilegedReferenceVariable, nobodys.c_str(), 1);
    ASSERT_EQ(AuthorizationCopyPrivilegedReference(&ref, 0), 0);
    EXPECT_EQ(getenv(kPrivilegedReferenceVariable), nullptr);
    AuthorizationExternalForm form;
    ASSERT_EQ(AuthorizationMakeExternalForm(*ref, &form), 0);
    EXPECT_EQ(detail::hexOf(form.bytes), nobodys);
}

}  // namespace
