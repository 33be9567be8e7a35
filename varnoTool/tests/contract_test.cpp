// Every key an operation looks up is in the executor's contract, and every
// key the contract gives an operation is looked up: each operation runs in
// debug mode on a fresh system, with every key of its contract set, through a
// build of the dispatcher that records the lookups.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "contract/executor.h"
#include "host/testing.h"
#include "plist/plist.h"
#include "sandbox/sandbox.h"

namespace {

using contract::KeyType;

// A value each operation takes far enough to read all its keys: numbers in
// range, a power source that exists, paths that name nothing.
plist::Value sample(const contract::Key& key) {
    const std::string absent = "/Volumes/Nothing";
    switch (key.type) {
        case KeyType::Boolean:
            return plist::Value::boolean(true);
        case KeyType::Integer:
            if (key.name == contract::keys::kPowerSource) return plist::Value::integer(0);
            if (key.name == contract::keys::kDeletionMethod) return plist::Value::integer(1);
            return plist::Value::integer(key.name == "MaxSocketBuffer" ? 4194304 : 65536);
        case KeyType::String:
            return plist::Value(absent);
        case KeyType::StringArray:
            return plist::Value(plist::Array{plist::Value(absent)});
        case KeyType::BooleanDictionary:
            return plist::Value(plist::Dictionary{{"French", plist::Value::boolean(true)}});
        case KeyType::Dictionary:
            return plist::Value(plist::Dictionary{});
    }
    return plist::Value();
}

std::string joined(const std::set<std::string>& keys) {
    std::string text;
    for (const std::string& k : keys) text += " " + k;
    return text;
}

TEST(ExecutorContract, EachOperationLooksUpExactlyItsKeys) {
    if (!host::testing::runningAsRoot()) GTEST_SKIP() << "the operations run as root";
    const char* recorder = std::getenv("VARNO_KEY_RECORDER");
    ASSERT_NE(recorder, nullptr);
    for (const contract::Operation& op : contract::kOperations) {
        const std::string identifier(op.identifier);
        host::testing::SandboxRoot root;
        sandbox::build(root);
        // One application, so that binary slimming has a bundle to look at.
        root.mkdirs("/Applications/Plain.app/Contents");
        plist::Dictionary request{{std::string(contract::kIdentifierKey), plist::Value(identifier)},
                                  {std::string(contract::kDebugKey), plist::Value::boolean(true)}};
        std::set<std::string> expected;
        for (const contract::Key& key : op.keys) {
            request[std::string(key.name)] = sample(key);
            expected.emplace(key.name);
        }
        const std::string log = root.path() + "/lookups";
        host::testing::RunOptions o;
        o.argv = {recorder, log};
        o.input = plist::writeXML(plist::Value(request));
        const host::testing::RunResult r = host::testing::run(o);
        ASSERT_FALSE(r.timedOut) << identifier;

        std::set<std::string> looked;
        std::ifstream in(log);
        for (std::string key; std::getline(in, key);)
            if (key != contract::kIdentifierKey && key != contract::kDebugKey) looked.insert(key);
        std::set<std::string> missing, unread;
        for (const std::string& k : looked)
            if (!expected.contains(k)) missing.insert(k);
        for (const std::string& k : expected)
            if (!looked.contains(k)) unread.insert(k);
        EXPECT_TRUE(missing.empty())
            << identifier << " looks up keys the contract lacks:" << joined(missing);
        EXPECT_TRUE(unread.empty()) << identifier << " never looks up:" << joined(unread) << "\n"
                                    << r.out;
    }
}

}  // namespace
