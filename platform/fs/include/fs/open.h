#pragma once
// Opening machine paths. A machine path is resolved with the system root as
// its "/": absolute symbolic links and ".." inside a sandbox root stay inside
// it, as they would on the machine the root stands for.

#include <sys/types.h>

#include <string>
#include <string_view>

namespace vfs {

// open(2) of a machine path. Returns the descriptor, or -1 with errno set.
// O_CLOEXEC is always added.
int openMachinePath(std::string_view machinePath, int flags, mode_t mode = 0);

// Opens the folder that holds the last component of a machine path (links in
// the leading components are followed) and stores that component in *leaf.
// Trailing slashes are ignored, so "/a/link/" names the link itself. Fails
// with EINVAL for "/" and for a last component "." or "..".
int openParentFolder(std::string_view machinePath, std::string* leaf);

// The path without trailing slashes and with repeated slashes collapsed;
// "/" stays "/".
std::string normalizedMachinePath(std::string_view machinePath);

}  // namespace vfs
