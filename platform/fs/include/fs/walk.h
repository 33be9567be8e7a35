#pragma once
// Folder listings and the tree walk under every recursive operation (sizes,
// recursive listings, removal, copy).
//
// The walk never follows a symbolic link and never enters a folder through
// one: a folder is entered with openat(O_NOFOLLOW | O_DIRECTORY) relative to
// its parent's descriptor, so a link swapped in for a folder during the walk
// is met as a link. It runs in a loop, not by recursion, and holds a bounded
// number of descriptors: a tree of any depth neither exhausts the stack nor
// the descriptor table. Memory grows with the entries of the folders on the
// current path, not with the size of the tree.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/ref.h"

namespace vfs {

struct WalkEntry {
    int folderFd = -1;  // the folder holding the entry; valid during the call
    std::string_view name;
    std::string_view relativePath;  // below the start folder: "a/b/name"
    FSCatalogInfo info;
    std::size_t depth = 0;  // 0 for entries directly inside the start folder
};

struct WalkCallbacks {
    // Every entry, a folder before its contents. For a folder, the result
    // says whether to enter it. May be empty (enter every folder).
    std::function<bool(const WalkEntry&)> entry;
    // A folder was opened (its descriptor given), before its contents.
    std::function<void(const WalkEntry&, int folderFd)> enter;
    // After the contents of an entered folder; folderFd is its parent's.
    std::function<void(const WalkEntry&)> leave;
    // A folder could not be entered or read, or an entry could not be looked up.
    std::function<void(const WalkEntry&, int error)> error;
};

enum class WalkOrder {
    // Entries of each folder sorted by name (byte order), all looked up
    // before the first is delivered. Callbacks may remove entries.
    ByName,
    // Fastest: files are delivered while their folder is read, folders
    // afterwards; folders are not looked up (device and inode 0). Callbacks
    // must not change the folder being read.
    AsStored,
};

enum class WalkLookup {
    // Every entry is looked up (fstatat): kind, size, device and inode.
    Full,
    // Only the kind, from the folder listing where the file system gives it
    // (no sizes, device or inode): for walks that only tell folders, files
    // and links apart.
    KindOnly,
};

// Walks the tree below an open folder; the descriptor stays the caller's.
// Returns 0, or the errno of reading the start folder, or ESTALE when a
// folder was moved away during the walk so the way back up was lost.
int walkFolderFd(int folderFd, WalkOrder order, const WalkCallbacks& callbacks,
                 WalkLookup lookup = WalkLookup::Full);

// Walks below the folder the reference names; the File Manager code of
// opening it on failure (errFSNotAFolder for a link or a file).
OSErr FSWalkFolder(const FSRef& folder, WalkOrder order, const WalkCallbacks& callbacks,
                   WalkLookup lookup = WalkLookup::Full);

// Names of the entries directly inside a machine folder (links to folders
// followed, as a folder listing does), hidden ones included, in byte order.
// nullopt with errno set when the folder cannot be listed.
std::optional<std::vector<std::string>> contentsOfDirectory(std::string_view machinePath);

}  // namespace vfs
