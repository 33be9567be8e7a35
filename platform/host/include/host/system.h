#pragma once
// Facts about the machine the system root stands for: its version and its
// users' home folders. Under a sandbox root they come from files inside the
// root that a test can set.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace host {

// "ProductVersion" of "/System/Library/CoreServices/SystemVersion.plist"
// under the system root, packed as binary-coded decimal the way the
// platform's Gestalt reports it (10.6.8 is 0x1068; minor and bug-fix numbers
// above 9 count as 9). 0 when it cannot be read.
std::int32_t systemVersion();

// The packing alone: "10.5" is 0x1050; 0 for text that is no version.
std::int32_t packedSystemVersion(std::string_view productVersion);

// The home folder (a machine path) of a user ID, from the account database
// under the system root: a passwd-format "/etc/passwd" there when the root
// has one, otherwise the machine's own. nullopt for an unknown user.
std::optional<std::string> homeFolderForUserID(uid_t uid);

// The home folder of the real user ID (the user who started the process).
std::optional<std::string> currentUserHomeFolder();

// "/Users/" and the name: where a named user's home folder is.
std::string homeFolderForUserName(std::string_view shortName);

}  // namespace host
