#pragma once
// Small files below a user's home folder: the list files and the autostart
// entries. Folders are opened through the system root, and every file is
// reached relative to its folder's descriptor without following a link.

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace lsfl::detail {

// Opens a folder (machine path) for reading. -1 with errno set on failure.
int openFolder(const std::string& machinePath);

// Opens the folder at home + "/" + relative ("" stands for "/" as home),
// creating the missing folders below the home folder (mode 0700). The home
// folder itself must exist. -1 with errno set on failure.
int openFolderCreating(const std::string& home, std::string_view relative);

// The content of a regular file in a folder; nullopt with errno set when it
// is missing (ENOENT), no regular file, larger than maxSize (EFBIG) or
// unreadable.
std::optional<std::string> readSmallFile(int folderFd, const std::string& name,
                                         std::size_t maxSize);

// Replaces (or creates) a file in a folder with the bytes, whole (see
// vfs::replaceFileAt), giving it `mode` whatever it had. 0 or an errno.
int replaceFile(int folderFd, const std::string& name, std::string_view bytes, mode_t mode);

}  // namespace lsfl::detail
