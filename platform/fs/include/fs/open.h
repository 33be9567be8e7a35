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

// open(2) of a machine path that follows no link a user could have made, so
// a folder a user can write on the way cannot redirect a privileged caller.
// A link is followed only in a folder owned by root that neither group nor
// others may write (the machine's own, like "/var"); any other gives ELOOP,
// and so does a final link when O_NOFOLLOW is given. ".." never leaves the
// system root. Returns the descriptor, or -1 with errno set; O_CLOEXEC is
// always added.
int openMachinePathNoLinks(std::string_view machinePath, int flags, mode_t mode = 0);

// openParentFolder, except that the folder is reached as openMachinePathNoLinks
// reaches it.
int openParentFolderNoLinks(std::string_view machinePath, std::string* leaf);

// Makes openMachinePathNoLinks walk component by component as it does on
// kernels without openat2 (for tests of that path).
void forceNoLinksWalkForTesting(bool force);

// The path without trailing slashes and with repeated slashes collapsed;
// "/" stays "/".
std::string normalizedMachinePath(std::string_view machinePath);

}  // namespace vfs
