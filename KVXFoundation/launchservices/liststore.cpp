#include "liststore.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "homefiles.h"
#include "plist/plist.h"

namespace lsfl::detail {
namespace {

constexpr std::size_t kMaxStoreSize = 16 << 20;

std::string fileName(const std::string& listType) {
    return listType + ".plist";
}

}  // namespace

std::string storePath(const std::string& home, const std::string& listType) {
    return home + "/" + kPreferencesFolder + "/" + fileName(listType);
}

std::optional<StoredList> readStore(const std::string& home, const std::string& listType) {
    int folder = openFolder(home + "/" + kPreferencesFolder);
    if (folder < 0) {
        if (errno == ENOENT) return StoredList{};
        return std::nullopt;
    }
    std::optional<std::string> bytes = readSmallFile(folder, fileName(listType), kMaxStoreSize);
    int error = errno;
    close(folder);
    if (!bytes) {
        if (error == ENOENT) return StoredList{};
        errno = error;
        return std::nullopt;
    }
    std::optional<plist::Value> root = plist::parse(*bytes);
    const plist::Array* items = nullptr;
    if (root && root->isDictionary()) {
        const plist::Value* value = root->find("Items");
        items = value ? value->asArray() : nullptr;
    }
    if (items == nullptr) {
        errno = EILSEQ;
        return std::nullopt;
    }
    StoredList list;
    std::uint64_t next = 1;
    for (const plist::Value& entry : *items) {
        const plist::Value* id = entry.find("UniqueID");
        const plist::Value* path = entry.find("Path");
        std::optional<std::uint64_t> number = id ? id->asUnsignedInteger() : std::nullopt;
        if (!number || *number == 0 || *number > UINT32_MAX || !path || !path->asString()) continue;
        list.items.push_back({static_cast<std::uint32_t>(*number), *path->asString()});
        next = std::max(next, *number + 1);
    }
    if (const plist::Value* stored = root->find("NextUniqueID")) {
        if (std::optional<std::uint64_t> number = stored->asUnsignedInteger())
            next = std::max(next, *number);
    }
    // Past the last ID nothing can be added; the list stays readable.
    list.nextUniqueID = static_cast<std::uint32_t>(std::min<std::uint64_t>(next, UINT32_MAX));
    return list;
}

int writeStore(const std::string& home, const std::string& listType, const StoredList& list) {
    plist::Array items;
    for (const LSSharedFileListItem& item : list.items) {
        plist::Dictionary entry;
        entry.emplace("UniqueID", plist::Value::integer(item.uniqueID));
        entry.emplace("Path", plist::Value(item.path));
        items.emplace_back(std::move(entry));
    }
    plist::Dictionary root;
    root.emplace("Items", plist::Value(std::move(items)));
    root.emplace("NextUniqueID", plist::Value::integer(list.nextUniqueID));
    int folder = openFolderCreating(home, kPreferencesFolder);
    if (folder < 0) return errno;
    int error = replaceFile(folder, fileName(listType), plist::writeXML(plist::Value(root)), 0600);
    close(folder);
    return error;
}

}  // namespace lsfl::detail
