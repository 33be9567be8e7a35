#pragma once
// Replacing a file with a rewritten copy of it.

#include <string>

namespace bundle {

// Gives the file at `replacementPath` the owner, group and permission bits
// (set-user-ID and set-group-ID included) of the file at `targetPath`, then
// puts it in the target's place with one rename (then synced with its
// folder), so that the target's path never names nothing and a failure
// leaves the target as it was. Both are
// machine paths on one file system; neither may be a symbolic link or other
// than a regular file. Returns 0, or the errno value of the step that failed
// (EINVAL for a path that is no regular file; the replacement then stays).
int replaceFileKeepingOwnerAndMode(const std::string& replacementPath,
                                   const std::string& targetPath);

}  // namespace bundle
