#pragma once
// Secure overwriting of file data, and the removal that empties a folder on
// behalf of one user (a trash) with it.

#include <sys/types.h>

#include <string_view>

#include "fs/remove.h"

namespace vfs {

// The number of overwrite passes the secure option in `flags` names (35, 7 or
// 1, the strongest given winning), or 0 when there is none.
int secureOverwritePassCount(removefile_flags_t flags);

// Overwrites the first `size` bytes of the open file in place with the passes
// the secure option in `flags` names (random data and the fixed patterns of
// the 7- and 35-pass methods), each flushed to the disk. 0 or an errno value.
int overwriteFileData(int fd, off_t size, removefile_flags_t flags);

// removefile(machinePath, flags), except that with a secure option a regular
// file that also has other names is overwritten too when `owner` owns it.
// removefile leaves such data alone because it is still in use elsewhere; but
// a user who has a file of their own destroyed securely means all of its
// data, and could overwrite it anyway. A file of anyone else that has other
// names is still only unlinked, so a hard link planted in a trash cannot make
// a privileged caller destroy a file it was not given.
//
// Returns 0 or the errno of the first failure.
int removefileForOwner(std::string_view machinePath, removefile_flags_t flags, uid_t owner);

// The same for the contents of an open folder, kept itself.
int removeFolderContentsForOwner(int folderFd, removefile_flags_t flags, uid_t owner);

}  // namespace vfs
