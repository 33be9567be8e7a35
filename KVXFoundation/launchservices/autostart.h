#pragma once
// Login items as XDG autostart entries: a desktop entry per list entry in
// the user's "~/.config/autostart/", marked with the entry's unique ID and
// path so that the list can tell its own entries from those of others, which
// it never touches.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KVXFoundation/LSSharedFileList.h"

namespace lsfl::detail {

inline constexpr char kAutostartFolder[] = ".config/autostart";
inline constexpr char kItemIDKey[] = "X-KVX-SharedFileList-ItemID";
inline constexpr char kItemPathKey[] = "X-KVX-SharedFileList-Path";

struct AutostartEntry {
    std::uint32_t uniqueID = 0;
    std::string path;      // machine path of the file it starts
    std::string fileName;  // of the desktop entry in the autostart folder
    bool hidden = false;   // "Hidden=true": the user removed it
};

// The autostart folder's machine path.
std::string autostartFolder(const std::string& home);

// Our desktop entries in the autostart folder, in file-name order; empty
// when there is no such folder. nullopt with errno set when it cannot be
// listed.
std::optional<std::vector<AutostartEntry>> scanAutostart(const std::string& home);

// Reads our marks from a desktop entry's text; nullopt for an entry that is
// not ours.
std::optional<AutostartEntry> parseDesktopEntry(std::string_view text);

// The desktop entry that starts the item's file at login: the executable of
// an application bundle, an executable file itself, anything else through
// "xdg-open". nullopt when the path holds a control character.
std::optional<std::string> desktopEntryText(const LSSharedFileListItem& item);

// Writes the item's desktop entry (creating the folder); 0 or an errno, with
// *fileName set on success.
int writeAutostartEntry(const std::string& home, const LSSharedFileListItem& item,
                        std::string* fileName);

// Removes a desktop entry; one that is gone already counts as removed.
// 0 or an errno.
int removeAutostartEntry(const std::string& home, const std::string& fileName);

}  // namespace lsfl::detail
