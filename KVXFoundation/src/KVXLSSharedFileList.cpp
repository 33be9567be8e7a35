#include "KVXFoundation/KVXLSSharedFileList.h"

#include <optional>
#include <string>
#include <vector>

namespace {

std::optional<std::vector<lsfl::LSSharedFileListItem>> snapshot(
    const lsfl::LSSharedFileListRef& list) {
    if (!list) return std::nullopt;
    return lsfl::LSSharedFileListCopySnapshot(*list);
}

// The entry resolves, and to the file url names.
bool matches(const lsfl::LSSharedFileListItem& item, const QUrl& url) {
    std::string path;
    if (lsfl::LSSharedFileListItemResolve(item, 0, &path) != vfs::noErr) return false;
    return QUrl::fromLocalFile(QString::fromStdString(path)) == url;
}

}  // namespace

KVXLSSharedFileList::KVXLSSharedFileList(const QString& identifier)
    : listRef_(lsfl::LSSharedFileListCreate(identifier.toStdString())) {}

KVXLSSharedFileList::~KVXLSSharedFileList() = default;

QList<lsfl::LSSharedFileListItem> KVXLSSharedFileList::files() const {
    std::optional<std::vector<lsfl::LSSharedFileListItem>> items = snapshot(listRef_);
    if (!items) return {};
    return QList<lsfl::LSSharedFileListItem>(items->begin(), items->end());
}

bool KVXLSSharedFileList::fileExistsWithURL(const QUrl& url) const {
    std::optional<std::vector<lsfl::LSSharedFileListItem>> items = snapshot(listRef_);
    if (!items) return false;
    bool found = false;
    for (const lsfl::LSSharedFileListItem& item : *items)
        if (matches(item, url)) found = true;
    return found;
}

bool KVXLSSharedFileList::addFileWithURL(const QUrl& url) {
    if (!listRef_ || !url.isLocalFile()) return false;
    return lsfl::LSSharedFileListInsertItemURL(*listRef_, url.toLocalFile().toStdString())
        .has_value();
}

bool KVXLSSharedFileList::removeFileWithURL(const QUrl& url) {
    std::optional<std::vector<lsfl::LSSharedFileListItem>> items = snapshot(listRef_);
    if (!items) return false;
    for (const lsfl::LSSharedFileListItem& item : *items)
        if (matches(item, url))
            return lsfl::LSSharedFileListItemRemove(*listRef_, item) == vfs::noErr;
    return true;
}

bool KVXLSSharedFileList::removeAllFiles() {
    return listRef_ && lsfl::LSSharedFileListRemoveAllItems(*listRef_) == vfs::noErr;
}
