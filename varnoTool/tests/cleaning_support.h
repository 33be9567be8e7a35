#pragma once
// Shared by the cleaning tests: a sandbox system with the suite installed,
// requests, running the installed executor, and the records it writes.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "executor_harness.h"
#include "host/testing.h"
#include "plist/plist.h"
#include "sandbox/sandbox.h"

namespace cleaning_test {

inline void buildSystem(const host::testing::SandboxRoot& root,
                        std::vector<std::string> extraArguments = {}) {
    sandbox::BuildOptions options;
    options.installSuite = true;
    options.extraArguments = std::move(extraArguments);
    sandbox::build(root, options);
}

// A request naming the operation, with each key set to true.
inline plist::Dictionary request(const std::string& identifier,
                                 const std::vector<std::string>& keys, bool debug = false) {
    plist::Dictionary d = executor_test::request(identifier, debug);
    for (const std::string& key : keys) d[key] = plist::Value::boolean(true);
    return d;
}

// Runs the executor installed in the root, as root, with the request.
inline host::testing::RunResult runOperation(const host::testing::SandboxRoot& root,
                                             const plist::Dictionary& request) {
    host::testing::RunOptions o;
    o.argv = {root.real(sandbox::kInstalledExecutor)};
    o.input = executor_test::frame(executor_test::rootAuthorizationForm(), request);
    o.timeoutSeconds = 300;
    return host::testing::run(o);
}

inline std::string progress(double position, double total) {
    char line[160];
    snprintf(line, sizeof line, "KVXAEProgressUpdateAuthExecOutputIdentifier(%.2f,%.2f)\n",
             position, total);
    return line;
}

inline std::string sizeRecord(const std::string& identifier, std::int64_t total) {
    plist::Dictionary d;
    d["KVXAEDictionaryIdentifierAuthExecOutputIdentifier"] = plist::Value(identifier);
    d["KVXAETotalSizeRemovedAuthExecDictionaryOutputKey"] = plist::Value::integer(total);
    return plist::writeXML(plist::Value(d));
}

// The byte total of the stream's size record; -1 when there is none.
inline std::int64_t reportedTotal(const std::string& out) {
    size_t start = out.find("<?xml");
    if (start == std::string::npos) return -1;
    auto record = plist::parse(std::string_view(out).substr(start));
    if (!record) return -1;
    const plist::Value* total = record->find("KVXAETotalSizeRemovedAuthExecDictionaryOutputKey");
    return total && total->asInteger() ? *total->asInteger() : -1;
}

}  // namespace cleaning_test
