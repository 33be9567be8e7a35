#pragma once
// System database rebuilds, handed to the system's own tools: the shared
// cache of dynamic libraries, the Launch Services database, the locate
// database and the whatis database of the manual pages.

#include "plist/plist.h"

// "KVXAERebuildDyldSharedCacheAuthExec": replaces the executor with
// update_dyld_shared_cache. Returns -1 only when that fails.
int rebuildDyldSharedCache(const plist::Dictionary& parameters);

// "KVXAERebuildLaunchServicesDatabaseAuthExec": replaces the executor with
// lsregister. Returns -1 only when that fails.
int rebuildLaunchServicesDatabase(const plist::Dictionary& parameters);

// "KVXAERebuildLocateDatabaseAuthExec": runs locate.updatedb through sudo
// with user and group 0, waits, and returns the raw wait status (-1 when no
// child could be made).
int rebuildLocateDatabase(const plist::Dictionary& parameters);

// "KVXAERebuildWhatisDatabaseAuthExec": replaces the executor with
// makewhatis. Returns -1 only when that fails.
int rebuildWhatisDatabase(const plist::Dictionary& parameters);
