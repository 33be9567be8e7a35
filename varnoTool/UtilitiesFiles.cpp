// File-system references, sizes, listings, the recursive walk and removal.

#include <cctype>
#include <cstdio>
#include <map>
#include <utility>

#include "Protocol.h"
#include "Utilities.h"
#include "fs/remove.h"
#include "fs/walk.h"

namespace {

// The File Manager's limit for a path made from a reference.
constexpr std::size_t kPathBufferSize = 2048;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The path of a "file://" URL, percent escapes decoded.
std::optional<std::string> pathFromFileURL(std::string_view url) {
    constexpr std::string_view kScheme = "file://";
    if (url.size() < kScheme.size()) return std::nullopt;
    for (size_t i = 0; i < kScheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(url[i])) != kScheme[i]) return std::nullopt;
    url.remove_prefix(kScheme.size());
    if (url.substr(0, 9) == "localhost") url.remove_prefix(9);
    if (url.empty() || url.front() != '/') return std::nullopt;
    std::string path;
    for (size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size() && hexValue(url[i + 1]) >= 0 &&
            hexValue(url[i + 2]) >= 0) {
            path += static_cast<char>(hexValue(url[i + 1]) * 16 + hexValue(url[i + 2]));
            i += 2;
        } else if (url[i] == '?' || url[i] == '#') {
            break;
        } else {
            path += url[i];
        }
    }
    if (path.find('\0') != std::string::npos) return std::nullopt;
    return path;
}

void printLookupError(vfs::OSErr err, const FSRef& ref, const char* lookup) {
    std::string path;
    if (vfs::FSRefMakePath(ref, &path, kPathBufferSize) == vfs::noErr)
        printText("Error %d in FSGetCatalogInfo() [%s] for %s\n", err, lookup,
                  plist::displayForm(path).c_str());
    else
        printf("Error %d in FSGetCatalogInfo() for some random object...\n", err);
}

// The full path of an entry below `base`, or nullopt when it would not fit
// the File Manager's path buffer.
std::optional<std::string> entryPath(const std::string& base, std::string_view relative) {
    std::string path = base;
    if (path != "/") path += '/';
    path += relative;
    if (path.size() + 1 > kPathBufferSize) return std::nullopt;
    return path;
}

}  // namespace

void posixStringToFSRef(FSRef& ref, const std::optional<std::string>& path, bool) {
    ref = FSRef();
    if (path) vfs::FSPathMakeRef(*path, &ref);
}

void urlToFSRef(FSRef& ref, const std::optional<std::string>& fileURL) {
    ref = FSRef();
    if (!fileURL) return;
    if (std::optional<std::string> path = pathFromFileURL(*fileURL))
        vfs::FSPathMakeRef(*path, &ref);
}

bool fileOrDirectoryExistsAtPath(std::string_view path, bool isDirectory) {
    // References never depend on the directory flag here, so the lookup with
    // the opposite flag would give the same answer.
    FSRef ref;
    posixStringToFSRef(ref, std::string(path), isDirectory);
    vfs::FSCatalogInfo info;
    return vfs::FSGetCatalogInfo(ref, &info) == vfs::noErr;
}

std::uint64_t sizeAtFSRef(const FSRef& ref) {
    vfs::FSCatalogInfo info;
    vfs::OSErr err = vfs::FSGetCatalogInfo(ref, &info);
    if (err == vfs::nsvErr) return 0;
    if (err != vfs::noErr) {
        printLookupError(err, ref, "kFSCatInfoNodeFlags");
        return 0;
    }
    if (!info.isFolder()) return info.dataLogicalSize;
    // Folders add nothing of their own; files and links at any depth add
    // their data size. Failures below count as 0.
    std::uint64_t total = 0;
    vfs::WalkCallbacks cb;
    cb.entry = [&total](const vfs::WalkEntry& e) {
        if (!e.info.isFolder()) total = saturatingSum(total, e.info.dataLogicalSize);
        return true;
    };
    vfs::FSWalkFolder(ref, vfs::WalkOrder::AsStored, cb);
    return total;
}

namespace {

// Files with more than one link that this run has counted, with how many of
// their links it has not met yet: removing every link of a file frees its
// data once. A file whose links have all been met is forgotten, so that a new
// file given its inode number later in the run counts again.
std::map<std::pair<dev_t, ino_t>, nlink_t> countedLinkedFiles;

std::uint64_t uncountedSize(const vfs::FSCatalogInfo& info) {
    if (info.isFolder()) return 0;
    const std::pair<dev_t, ino_t> node(info.device, info.inode);
    auto counted = countedLinkedFiles.find(node);
    if (counted != countedLinkedFiles.end()) {
        if (--counted->second == 0) countedLinkedFiles.erase(counted);
        return 0;
    }
    if (info.linkCount > 1) countedLinkedFiles.emplace(node, info.linkCount - 1);
    return info.dataLogicalSize;
}

// The bytes removing the path frees, each file counted once in the run.
std::uint64_t sizeToCount(const char* path) {
    FSRef ref;
    posixStringToFSRef(ref, std::string(path), false);
    vfs::FSCatalogInfo info;
    vfs::OSErr err = vfs::FSGetCatalogInfo(ref, &info);
    if (err == vfs::nsvErr) return 0;
    if (err != vfs::noErr) {
        printLookupError(err, ref, "kFSCatInfoNodeFlags");
        return 0;
    }
    if (!info.isFolder()) return uncountedSize(info);
    std::uint64_t total = 0;
    vfs::WalkCallbacks cb;
    cb.entry = [&total](const vfs::WalkEntry& e) {
        total = saturatingSum(total, uncountedSize(e.info));
        return true;
    };
    vfs::FSWalkFolder(ref, vfs::WalkOrder::AsStored, cb);
    return total;
}

}  // namespace

std::vector<std::string> directoryContentNames(std::string_view folder) {
    return vfs::contentsOfDirectory(folder).value_or(std::vector<std::string>());
}

std::vector<std::string> directoryContentPaths(std::string_view folder) {
    std::vector<std::string> paths;
    for (const std::string& name : directoryContentNames(folder))
        paths.push_back(appendPathComponent(folder, name, false));
    return paths;
}

int getDirectoryContentsRecursive(const char* path, bool includeFiles, bool includeFolders,
                                  std::vector<std::string>& paths) {
    paths.clear();
    if (path == nullptr) return vfs::paramErr;
    FSRef ref;
    vfs::OSErr err = vfs::FSPathMakeRef(path, &ref);
    if (err != vfs::noErr) return err;
    return _iterateFolder(ref, includeFiles, includeFolders, paths);
}

int _iterateFolder(const FSRef& folder, bool includeFiles, bool includeFolders,
                   std::vector<std::string>& paths) {
    const std::string base = folder.path();
    vfs::WalkCallbacks cb;
    cb.entry = [&](const vfs::WalkEntry& e) {
        // Links are never listed nor followed. There are no alias files here.
        if (e.info.fileType == vfs::kSymLinkFileType) return false;
        std::optional<std::string> path = entryPath(base, e.relativePath);
        if (!path) printf("FSRefMakePath failed %ld\n", static_cast<long>(vfs::pathTooLongErr));
        bool wanted = e.info.isFolder() ? includeFolders : includeFiles;
        if (path && wanted) paths.push_back(std::move(*path));
        return true;  // bundles and packages are entered too
    };
    return vfs::FSWalkFolder(folder, vfs::WalkOrder::ByName, cb, vfs::WalkLookup::KindOnly);
}

void removePathCharDebug(const char* path, bool announce, bool force) {
    if (path == nullptr) return;
    bool onlyPretend = AEDEBUG && !force;
    if (announce)
        printText("\t%sRemoving %s\n", onlyPretend ? "DEBUG: " : "",
                  plist::displayForm(path).c_str());
    if (countTotalSizeRemoved) addToTotalSizeRemoved(sizeToCount(path));
    Delay(5);
    if (onlyPretend) return;
    vfs::removefile(path, vfs::REMOVEFILE_RECURSIVE);
}

void forgetCountedFiles() { countedLinkedFiles.clear(); }

void removePathChar(const char* path, bool announce) {
    removePathCharDebug(path, announce, false);
}

void removePath(std::string_view path, bool announce) {
    // The listing's bytes, as they are: a name that is not UTF-8 is removed
    // and counted like any other (only its announcement shows it escaped).
    removePathCharDebug(std::string(path).c_str(), announce, false);
}

void removeContentsOfDirectory(std::string_view folder, bool announce) {
    for (const std::string& path : directoryContentPaths(folder)) removePath(path, announce);
}

void removeFilesFromDirectoryWithSubstringInName(std::string_view folder,
                                                 std::string_view substring, bool announce) {
    for (const std::string& path : directoryContentPaths(folder))
        if (stringContainsSubstring(path, substring)) removePath(path, announce);
}

void removeKeyFromDictionary(std::string_view key, std::string_view path, bool substringMatch,
                             bool announce) {
    std::optional<plist::Dictionary> dictionary = dictionaryAtPath(std::string(path));
    if (!dictionary) return;
    std::string keyText(key), pathText(path);
    if (announce) {
        printText(AEDEBUG ? "\tDEBUG: Removing key %s from file %s\n"
                          : "\tRemoving key %s from file %s\n",
                  plist::displayForm(keyText).c_str(), plist::displayForm(pathText).c_str());
    }
    if (substringMatch) {
        std::erase_if(*dictionary,
                      [&](const auto& entry) { return stringContainsSubstring(entry.first, key); });
    } else {
        dictionary->erase(keyText);
    }
    Delay(5);
    if (AEDEBUG) return;
    // The rewrite replaces the file atomically; it is never deleted first.
    writeDictionaryToPath(&*dictionary, pathText);
}
