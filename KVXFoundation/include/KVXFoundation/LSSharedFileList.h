#pragma once
// Shared file lists: per-user, ordered lists of files of a named type (the
// user's login items, favourite folders ...), standing in for Launch
// Services' LSSharedFileList, which this platform lacks.
//
// Each list type is kept in "~/Library/Preferences/<list type>.plist" of the
// user's home folder under the system root, in list order, and is replaced
// whole in one rename, so a crash mid-write leaves the old list or the new
// one, never a mix. Nothing is cached: every call reads the list afresh, so
// changes made by other processes are seen at once. There is no locking; of
// two concurrent writers the last one wins.
//
// The login-items list type is also the user's set of XDG autostart entries:
// each entry has a desktop entry in "~/.config/autostart/" that starts its
// file at login (an application bundle's executable, an executable file, or
// any other file through "xdg-open"). The autostart folder says which entries
// exist, the list file says their order: an entry whose desktop entry was
// deleted or hidden (as the desktop's session settings do) is gone, and a
// desktop entry of ours the list file does not know (a crash between the two
// writes) is listed after the others.
//
// Files are named by their machine paths ("/Applications/Varno.app"); the
// library's Qt side turns file URLs into paths and back. Results are values:
// nothing is released by hand.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KVXFoundation/KVXFoundationExport.h"
#include "fs/errors.h"

namespace lsfl {

using vfs::OSErr;

// The list type of the user's login items.
inline constexpr char kLSSharedFileListSessionLoginItems[] =
    "com.apple.LSSharedFileList.SessionLoginItems";

// Resolution flags. Resolution here never asks the user nor mounts anything,
// so both are accepted and change nothing.
inline constexpr std::uint32_t kLSSharedFileListNoUserInteraction = 1;
inline constexpr std::uint32_t kLSSharedFileListDoNotMountVolumes = 2;

// One entry of a list, as a snapshot holds it.
struct LSSharedFileListItem {
    std::uint32_t uniqueID = 0;  // stable for the life of the entry, never reused in its list
    std::string path;            // the file's machine path, as it was added

    bool operator==(const LSSharedFileListItem&) const = default;
};

class KVXFOUNDATION_EXPORT LSSharedFileList {
  public:
    const std::string& listType() const { return listType_; }
    // Machine paths of the files behind the list.
    std::string storePath() const;
    std::string autostartFolder() const;  // "" unless the list is the login items
    bool isLoginItems() const;
    const std::string& homeFolder() const { return home_; }

    // Made by LSSharedFileListCreate, which checks the type.
    LSSharedFileList(std::string listType, std::string home)
        : listType_(std::move(listType)), home_(std::move(home)) {}

  private:
    std::string listType_;
    std::string home_;  // machine path of the user's home folder
};

// Shared between holders, as a list reference is; the list is gone when the
// last holder lets go.
using LSSharedFileListRef = std::shared_ptr<LSSharedFileList>;

// The list of a type for the user running the process. Nothing is read or
// written yet. nullptr for a type that cannot name a file (empty, with "/" or
// a control character, or starting with ".") or when the user has no home
// folder.
KVXFOUNDATION_EXPORT LSSharedFileListRef LSSharedFileListCreate(std::string_view listType);

// The entries in list order; nullopt when the list cannot be read (a list
// that was never written is empty).
KVXFOUNDATION_EXPORT std::optional<std::vector<LSSharedFileListItem>> LSSharedFileListCopySnapshot(
    const LSSharedFileList& list);

// Adds an entry for the file at the end of the list and hands it back, or
// nullopt when the file does not exist, its path is not absolute, or the list
// cannot be written. An entry already there is not looked for: the file is
// then listed twice. A login item whose path holds a control character is
// refused, since no desktop entry could start it.
KVXFOUNDATION_EXPORT std::optional<LSSharedFileListItem> LSSharedFileListInsertItemURL(
    LSSharedFileList& list, std::string_view path);

// Removes the entry (by its unique ID). An entry no longer in the list is
// gone already: noErr.
KVXFOUNDATION_EXPORT OSErr LSSharedFileListItemRemove(LSSharedFileList& list,
                                                      const LSSharedFileListItem& item);

// Empties the list; for the login items every desktop entry of ours goes too.
KVXFOUNDATION_EXPORT OSErr LSSharedFileListRemoveAllItems(LSSharedFileList& list);

// The file an entry stands for: noErr with *path set when a file is there
// now (links followed), fnfErr otherwise. Never asks the user.
KVXFOUNDATION_EXPORT OSErr LSSharedFileListItemResolve(const LSSharedFileListItem& item,
                                                       std::uint32_t flags, std::string* path);

}  // namespace lsfl
