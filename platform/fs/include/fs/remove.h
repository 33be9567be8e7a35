#pragma once
// Removal of files and folder trees, standing in for removefile.
//
// Safe to run as root inside folders others can write to: every step works
// relative to an open folder descriptor with fstatat(AT_SYMLINK_NOFOLLOW),
// unlinkat and openat(O_NOFOLLOW | O_DIRECTORY), so a link met anywhere (or
// swapped in for a folder while the tree is walked) is removed as a link and
// nothing it points to is touched. Links in the leading components of the
// named path are followed, as for any path.

#include <string_view>

namespace vfs {

using removefile_flags_t = unsigned;

// The option values removefile takes.
inline constexpr removefile_flags_t REMOVEFILE_RECURSIVE = 1;
inline constexpr removefile_flags_t REMOVEFILE_KEEP_PARENT = 2;  // keep the named folder
inline constexpr removefile_flags_t REMOVEFILE_SECURE_7_PASS = 4;
inline constexpr removefile_flags_t REMOVEFILE_SECURE_35_PASS = 8;
inline constexpr removefile_flags_t REMOVEFILE_SECURE_1_PASS = 16;

// Removes the object a machine path names: a file or link, or a folder (with
// everything in it when REMOVEFILE_RECURSIVE is given; an empty one
// otherwise). With REMOVEFILE_KEEP_PARENT a named folder is emptied and kept.
// The secure options overwrite each regular file's data in place (1, 7 or 35
// passes, each flushed to the disk) before it is unlinked; a file with more
// than one hard link is only unlinked, since its data is still in use under
// another name.
//
// Goes on past failures and returns 0 or the errno of the first one.
// Refuses "/" and a last component "." or ".." with EINVAL.
int removefile(std::string_view machinePath, removefile_flags_t flags);

// Removes everything inside an open folder (REMOVEFILE_RECURSIVE |
// REMOVEFILE_KEEP_PARENT on the folder itself), for a caller that opened and
// checked the folder and must not look it up by path again.
int removeFolderContents(int folderFd, removefile_flags_t flags);

}  // namespace vfs
