// Every identifier of the dispatch table reaches its operation: run through
// the executor in debug mode on a fresh system, none ends with the status of
// an unknown identifier.
#include <gtest/gtest.h>

#include "executor_harness.h"
#include "sandbox/sandbox.h"

using namespace executor_test;

namespace {

constexpr int kUnknownIdentifier = 7;

TEST(Dispatch, EveryIdentifierReachesItsOperation) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "the executor runs as root";
    for (const std::string& identifier : operationIdentifiers()) {
        host::testing::SandboxRoot root;
        sandbox::build(root);
        const std::string form = rootAuthorizationForm();
        host::testing::RunResult r = runExecutor(frame(form, request(identifier, true)));
        EXPECT_FALSE(r.timedOut) << identifier;
        EXPECT_NE(r.exitStatus, kUnknownIdentifier) << identifier << "\n" << r.out << r.err;
    }
    // The control: one letter off is no identifier.
    host::testing::SandboxRoot root;
    const std::string form = rootAuthorizationForm();
    EXPECT_EQ(runExecutor(frame(form, request("KVXAEQueryProcessesAuthExeC", true))).exitStatus,
              kUnknownIdentifier);
}

}  // namespace
