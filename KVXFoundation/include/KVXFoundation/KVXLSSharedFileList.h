#pragma once
// KVXLSSharedFileList: one of the user's shared file lists (the login items,
// for one) as an object that works in file URLs: list the entries, ask
// whether a file is in the list, add a file at the end, remove a file, empty
// the list.
//
// Types: file URLs are QUrl (only local-file URLs name entries); the list
// and its entries are the shared file list types of LSSharedFileList.h, the
// list held by shared ownership. Every call works on the live list, read
// afresh; the object keeps no copy of the entries. Failures are reported
// only by the results; nothing is logged and nothing throws. For use from
// one thread at a time.

#include <QList>
#include <QString>
#include <QUrl>
#include <utility>

#include "KVXFoundation/KVXFoundationExport.h"
#include "KVXFoundation/LSSharedFileList.h"

class KVXFOUNDATION_EXPORT KVXLSSharedFileList {
  public:
    // initWithIdentifier: the list's type, such as
    // lsfl::kLSSharedFileListSessionLoginItems. A list that cannot be
    // created leaves listRef() null.
    explicit KVXLSSharedFileList(const QString& identifier);
    // dealloc: the list is let go with the object.
    ~KVXLSSharedFileList();

    KVXLSSharedFileList(const KVXLSSharedFileList&) = delete;
    KVXLSSharedFileList& operator=(const KVXLSSharedFileList&) = delete;

    lsfl::LSSharedFileListRef listRef() const { return listRef_; }
    // Shared ownership: the old list is let go once nobody holds it, and the
    // new one lives as long as someone does.
    void setListRef(lsfl::LSSharedFileListRef listRef) { listRef_ = std::move(listRef); }

    // A snapshot of the entries in list order; empty when there is no list
    // or it cannot be read.
    QList<lsfl::LSSharedFileListItem> files() const;

    // True when at least one entry resolves to a file whose URL equals url.
    // Entries that do not resolve never match. Every entry is resolved.
    bool fileExistsWithURL(const QUrl& url) const;

    // Adds the file at the end of the list without looking for an entry of
    // it first; true when the list hands back the new entry.
    bool addFileWithURL(const QUrl& url);

    // Removes the first entry, in list order, that matches url. True when it
    // was removed and when nothing matches; false when the removal fails, and
    // when there is no list or it cannot be read (so "not in the list" is
    // never claimed for a list nobody could look at).
    bool removeFileWithURL(const QUrl& url);

    // Empties the list; true on success.
    bool removeAllFiles();

  private:
    lsfl::LSSharedFileListRef listRef_;
};
