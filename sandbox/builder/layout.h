#pragma once
// The bare system: folders, system version, accounts and stand-in tools.

#include <sys/types.h>

#include <string>
#include <vector>

#include "files.h"

namespace sandbox_builder {

struct Account {
    std::string name;
    uid_t uid = 0;
};

// The group of every account the builder makes, as on the platform ("staff").
inline constexpr gid_t kStaffGroup = 20;

struct LayoutOptions {
    std::vector<Account> users;
    std::string systemVersion;  // "10.6.8"
    std::string toolsFolder;    // the stand-in scripts
    std::string standin;        // the program every tool path holds
    std::string lipo;           // the sandbox's lipo program; empty when not built
};

void layOutSystem(const Root& root, const LayoutOptions& options);

// Where a user's home folder is on the machine.
std::string homeFolder(const Account& account);

}  // namespace sandbox_builder
