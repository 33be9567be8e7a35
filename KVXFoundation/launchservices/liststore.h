#pragma once
// The list file of a shared file list: "~/Library/Preferences/<type>.plist",
// a dictionary with the entries in order ("Items": dictionaries with
// "UniqueID" and "Path") and the next unique ID ("NextUniqueID").

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "KVXFoundation/LSSharedFileList.h"

namespace lsfl::detail {

inline constexpr char kPreferencesFolder[] = "Library/Preferences";

struct StoredList {
    std::vector<LSSharedFileListItem> items;
    std::uint32_t nextUniqueID = 1;
};

// The list file's machine path.
std::string storePath(const std::string& home, const std::string& listType);

// The stored list; empty when no list file exists yet. nullopt with errno set
// when it exists but cannot be read or understood, so that no caller writes
// over a list it could not read. Malformed entries are skipped.
std::optional<StoredList> readStore(const std::string& home, const std::string& listType);

// Replaces the list file (creating its folder). 0 or an errno.
int writeStore(const std::string& home, const std::string& listType, const StoredList& list);

}  // namespace lsfl::detail
