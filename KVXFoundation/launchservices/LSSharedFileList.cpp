#include "KVXFoundation/LSSharedFileList.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

#include "autostart.h"
#include "fs/open.h"
#include "host/system.h"
#include "liststore.h"

namespace lsfl {
namespace {

// Longer types could not name their list file.
constexpr std::size_t kMaxListTypeLength = 200;

bool isValidListType(std::string_view type) {
    if (type.empty() || type.size() > kMaxListTypeLength || type.front() == '.') return false;
    return std::none_of(type.begin(), type.end(),
                        [](unsigned char c) { return c == '/' || c < 0x20 || c == 0x7f; });
}

OSErr failure(int error) {
    return error == 0 ? vfs::ioErr : vfs::osErrFromErrno(error);
}

// The list as it stands: for the login items the autostart folder decides
// which entries exist and the list file their order.
struct LoadedList {
    detail::StoredList list;
    // Login items: every desktop entry of ours by unique ID, hidden ones too.
    std::map<std::uint32_t, std::vector<std::string>> desktopEntries;
};

std::optional<LoadedList> load(const LSSharedFileList& list) {
    std::optional<detail::StoredList> stored =
        detail::readStore(list.homeFolder(), list.listType());
    if (!stored) return std::nullopt;
    LoadedList loaded;
    if (!list.isLoginItems()) {
        loaded.list = std::move(*stored);
        return loaded;
    }
    std::optional<std::vector<detail::AutostartEntry>> entries =
        detail::scanAutostart(list.homeFolder());
    if (!entries) return std::nullopt;
    std::uint64_t next = stored->nextUniqueID;
    std::map<std::uint32_t, const detail::AutostartEntry*> live;
    for (const detail::AutostartEntry& entry : *entries) {
        next = std::max<std::uint64_t>(next, std::uint64_t{entry.uniqueID} + 1);
        loaded.desktopEntries[entry.uniqueID].push_back(entry.fileName);
        if (!entry.hidden) live.emplace(entry.uniqueID, &entry);
    }
    std::set<std::uint32_t> listed;
    for (const LSSharedFileListItem& item : stored->items) {
        auto found = live.find(item.uniqueID);
        if (found != live.end() && listed.insert(item.uniqueID).second)
            loaded.list.items.push_back({item.uniqueID, found->second->path});
    }
    for (const auto& [id, entry] : live)
        if (listed.count(id) == 0) loaded.list.items.push_back({id, entry->path});
    loaded.list.nextUniqueID =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(next, UINT32_MAX));
    return loaded;
}

// Removes the desktop entries of one unique ID; the first error, or 0.
int removeDesktopEntries(const LSSharedFileList& list, const std::vector<std::string>& names) {
    int first = 0;
    for (const std::string& name : names) {
        int error = detail::removeAutostartEntry(list.homeFolder(), name);
        if (first == 0) first = error;
    }
    return first;
}

}  // namespace

std::string LSSharedFileList::storePath() const {
    return detail::storePath(home_, listType_);
}

std::string LSSharedFileList::autostartFolder() const {
    return isLoginItems() ? detail::autostartFolder(home_) : std::string();
}

bool LSSharedFileList::isLoginItems() const {
    return listType_ == kLSSharedFileListSessionLoginItems;
}

LSSharedFileListRef LSSharedFileListCreate(std::string_view listType) {
    if (!isValidListType(listType)) return nullptr;
    std::optional<std::string> home = host::currentUserHomeFolder();
    if (!home || home->empty() || home->front() != '/') return nullptr;
    while (home->size() > 1 && home->back() == '/') home->pop_back();
    if (*home == "/") home->clear();  // so that "/" + "Library" is no "//Library"
    return std::make_shared<LSSharedFileList>(std::string(listType), *home);
}

std::optional<std::vector<LSSharedFileListItem>> LSSharedFileListCopySnapshot(
    const LSSharedFileList& list) {
    std::optional<LoadedList> loaded = load(list);
    if (!loaded) return std::nullopt;
    return std::move(loaded->list.items);
}

std::optional<LSSharedFileListItem> LSSharedFileListInsertItemURL(LSSharedFileList& list,
                                                                  std::string_view path) {
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string_view::npos)
        return std::nullopt;
    LSSharedFileListItem item{0, std::string(path)};
    std::string resolved;
    if (LSSharedFileListItemResolve(item, 0, &resolved) != vfs::noErr) return std::nullopt;
    std::optional<LoadedList> loaded = load(list);
    if (!loaded || loaded->list.nextUniqueID == UINT32_MAX) return std::nullopt;
    item.uniqueID = loaded->list.nextUniqueID++;
    // The desktop entry first: should the list file not follow, the entry
    // is still found (after the others) rather than starting unlisted.
    std::string desktopEntry;
    if (list.isLoginItems() &&
        detail::writeAutostartEntry(list.homeFolder(), item, &desktopEntry) != 0)
        return std::nullopt;
    loaded->list.items.push_back(item);
    if (detail::writeStore(list.homeFolder(), list.listType(), loaded->list) != 0) {
        if (list.isLoginItems())
            (void)detail::removeAutostartEntry(list.homeFolder(), desktopEntry);
        return std::nullopt;
    }
    return item;
}

OSErr LSSharedFileListItemRemove(LSSharedFileList& list, const LSSharedFileListItem& item) {
    std::optional<LoadedList> loaded = load(list);
    if (!loaded) return failure(errno);
    std::vector<LSSharedFileListItem>& items = loaded->list.items;
    auto gone = std::remove_if(items.begin(), items.end(), [&](const LSSharedFileListItem& i) {
        return i.uniqueID == item.uniqueID;
    });
    if (gone == items.end()) return vfs::noErr;
    items.erase(gone, items.end());
    if (list.isLoginItems()) {
        int error = removeDesktopEntries(list, loaded->desktopEntries[item.uniqueID]);
        if (error != 0) return failure(error);
        // Without its desktop entry the entry is gone; the list file only
        // keeps the order, and a stale line in it is dropped on reading.
        (void)detail::writeStore(list.homeFolder(), list.listType(), loaded->list);
        return vfs::noErr;
    }
    int error = detail::writeStore(list.homeFolder(), list.listType(), loaded->list);
    return error == 0 ? vfs::noErr : failure(error);
}

OSErr LSSharedFileListRemoveAllItems(LSSharedFileList& list) {
    std::optional<LoadedList> loaded = load(list);
    if (!loaded) return failure(errno);
    int first = 0;
    for (const auto& [id, names] : loaded->desktopEntries) {
        int error = removeDesktopEntries(list, names);
        if (first == 0) first = error;
    }
    loaded->list.items.clear();
    int error = detail::writeStore(list.homeFolder(), list.listType(), loaded->list);
    if (first == 0) first = error;
    return first == 0 ? vfs::noErr : failure(first);
}

OSErr LSSharedFileListItemResolve(const LSSharedFileListItem& item, std::uint32_t flags,
                                  std::string* path) {
    (void)flags;  // resolution is always quiet here
    if (item.path.empty()) return vfs::fnfErr;
    int fd = vfs::openMachinePath(item.path, O_PATH);
    if (fd < 0) return vfs::fnfErr;
    close(fd);
    *path = item.path;
    return vfs::noErr;
}

}  // namespace lsfl
