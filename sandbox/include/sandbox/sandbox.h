#pragma once
// Test support for code that runs on a Mac-like system root: lay one out in a
// test's sandbox root, read what the stand-in tools were asked to do, and
// compare trees before and after.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "host/testing.h"

namespace sandbox {

// Journal of the stand-in tools (a machine path).
inline constexpr const char* kJournalPath = "/private/var/log/varno-journal";

// Where a root made with installSuite holds the suite and its executor.
inline constexpr const char* kInstalledBundle = "/Applications/Varno.app";
inline constexpr const char* kInstalledExecutor =
    "/Applications/Varno.app/Contents/MacOS/varnoTool";

struct BuildOptions {
    std::vector<std::string> users;  // "NAME" or "NAME:UID"
    std::string systemVersion;       // empty: the builder's default (10.6.8)
    // Installs a copy of the built bundle, so that the executor runs from
    // inside the root and finds its resources there, as on the machine.
    bool installSuite = false;
    std::vector<std::string> extraArguments;
};

// Runs the builder on the (still empty) sandbox root; throws
// std::runtime_error with the builder's message when it fails.
void build(const host::testing::SandboxRoot& root, const BuildOptions& options = {});

// The builder program, for tests that run it themselves.
std::string builderPath();

// One run of a stand-in tool: its effective user ID and argument vector
// (arguments that named paths inside the root are given as machine paths).
struct JournalEntry {
    uid_t euid = 0;
    std::vector<std::string> argv;
    bool operator==(const JournalEntry&) const = default;
};

std::vector<JournalEntry> readJournal(const host::testing::SandboxRoot& root);

// Every object below the root, by machine path, with what identifies its
// state: kind, mode, owner, size and content (files), or target (links).
using TreeSnapshot = std::map<std::string, std::string>;

// What running tools and programs changes as a matter of course: the tool
// journal, and the records of the authorizations tests create to run the
// executor.
inline const std::vector<std::string> kBookkeeping = {kJournalPath, "/private/var/db/kvx-auth"};

// Machine paths in `ignore` (and everything below them) are left out.
TreeSnapshot snapshotTree(const host::testing::SandboxRoot& root,
                          const std::vector<std::string>& ignore = kBookkeeping);

}  // namespace sandbox
