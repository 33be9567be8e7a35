#include "operations/PreferenceFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Protocol.h"
#include "Utilities.h"
#include "fs/copy.h"
#include "fs/open.h"
#include "fs/replace.h"

namespace {

constexpr const char* kHoldingFolder =
    "~/Library/Application Support/Varno/DisabledPreferenceFiles/";
constexpr const char* kUserPreferences = "~/Library/Preferences/";
constexpr const char* kMachinePreferences = "/Library/Preferences/";
constexpr const char* kHeldLocalMarker = "/DisabledPreferenceFiles/Local/";
// Where each held file came from and whose it was, beside the holding folder:
// held path -> {"Path", "Owner"}.
constexpr const char* kOriginsFolder = "~/Library/Application Support/Varno/";
constexpr const char* kOriginsName = "DisabledPreferenceFiles.plist";
constexpr const char* kOriginPathKey = "Path";
constexpr const char* kOriginOwnerKey = "Owner";
constexpr off_t kMaxOriginsSize = 8 << 20;

constexpr const char* kDisableFilesKey = contract::keys::kDisableFiles.data();
constexpr const char* kRestoreFilesKey = contract::keys::kRestoreFiles.data();

// The keys of one operation's result record.
struct RecordKeys {
    const char* tag;
    const char* moved;
    const char* failed;
    const char* errors;
};

constexpr RecordKeys kDisableRecord = {
    "KVXAEResultsDisablePreferenceFilesAuthExecDictionaryOutputKey",
    "KVXAEDisabledFilesDisablePreferenceFilesExecutorDidEndInfoKey",
    "KVXAEErrorFilesDisablePreferenceFilesExecutorDidEndInfoKey",
    "KVXAEFileErrorsDisablePreferenceFilesExecutorDidEndInfoKey",
};

constexpr RecordKeys kRestoreRecord = {
    "KVXAEResultsRestorePreferenceFilesAuthExecDictionaryOutputKey",
    "KVXAERestoredFilesRestorePreferenceFilesExecutorDidEndInfoKey",
    "KVXAEErrorFilesRestorePreferenceFilesExecutorDidEndInfoKey",
    "KVXAEFileErrorsRestorePreferenceFilesExecutorDidEndInfoKey",
};

struct Outcome {
    plist::Array moved;
    plist::Array failed;
    plist::Dictionary errors;

    void succeeded(const std::string& path) { moved.emplace_back(path); }
    void failedWithoutCode(const std::string& path) { failed.emplace_back(path); }
    void failedWithCode(const std::string& path, vfs::OSErr code) {
        failed.emplace_back(path);
        errors[path] = plist::Value::integer(code);
    }

    void write(const RecordKeys& keys) {
        plist::Dictionary record;
        record[keys.moved] = plist::Value(std::move(moved));
        record[keys.failed] = plist::Value(std::move(failed));
        record[keys.errors] = plist::Value(std::move(errors));
        writeDictionaryWithID(record, keys.tag);
    }
};

// The request's paths; an absent array is empty. Entries that are not
// strings name no file and are passed over.
std::vector<std::string> requestedPaths(const plist::Dictionary& parameters, const char* key) {
    std::vector<std::string> paths;
    const plist::Value* value = requestValue(parameters, key);
    if (value == nullptr || value->asArray() == nullptr) return paths;
    for (const plist::Value& element : *value->asArray())
        if (const std::string* path = element.asString()) paths.push_back(*path);
    return paths;
}

// The name the file keeps in its new folder; absent when the path names no
// file ("/", "", "." or "..").
std::optional<std::string> fileNameOf(const std::string& path) {
    std::string name = lastPathComponent(path, false);
    if (name.empty() || name == "/" || name == "." || name == "..") return std::nullopt;
    return name;
}

std::string expanded(const char* path) {
    return expandTildeInPath(std::string(path), {}).value();
}

// An open folder and the name of an entry in it.
struct Entry {
    int folder = -1;
    std::string name;
    Entry() = default;
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;
    ~Entry() {
        if (folder >= 0) close(folder);
    }
    // Opens the folder of a machine path without following any link.
    int open(const std::string& path) {
        folder = vfs::openParentFolderNoLinks(path, &name);
        return folder >= 0 ? 0 : errno;
    }
};

// The record of held files' origins. It lives in the user's own folder, so
// it is only ever believed where the held file's owner agrees with it.
class Origins {
  public:
    Origins() {
        Entry file;
        if (file.open(expanded(kOriginsFolder) + kOriginsName) != 0) return;
        int fd =
            openat(file.folder, file.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return;
        struct stat st {};
        std::string bytes;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxOriginsSize) {
            bytes.resize(static_cast<size_t>(st.st_size));
            ssize_t n = read(fd, bytes.data(), bytes.size());
            bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
        }
        close(fd);
        if (auto value = plist::parse(bytes); value && value->asDictionary())
            entries_ = *value->asDictionary();
    }

    struct Origin {
        std::string path;
        uid_t owner;
    };

    std::optional<Origin> find(const std::string& held) const {
        auto it = entries_.find(vfs::normalizedMachinePath(held));
        const plist::Dictionary* d = it == entries_.end() ? nullptr : it->second.asDictionary();
        if (d == nullptr) return std::nullopt;
        auto path = d->find(kOriginPathKey);
        auto owner = d->find(kOriginOwnerKey);
        if (path == d->end() || owner == d->end() || !path->second.asString() ||
            !owner->second.asInteger() || *owner->second.asInteger() < 0 ||
            *owner->second.asInteger() > INT32_MAX)
            return std::nullopt;
        return Origin{*path->second.asString(), static_cast<uid_t>(*owner->second.asInteger())};
    }

    // Each change is saved at once (before a move, so that an interrupted run
    // still knows where a held file came from).
    void set(const std::string& held, const std::string& origin, uid_t owner) {
        plist::Dictionary d;
        d[kOriginPathKey] = plist::Value(origin);
        d[kOriginOwnerKey] = plist::Value::integer(owner);
        entries_[vfs::normalizedMachinePath(held)] = plist::Value(std::move(d));
        save();
    }
    void erase(const std::string& held) {
        if (entries_.erase(vfs::normalizedMachinePath(held)) > 0) save();
    }

  private:
    // Replaced whole, so the record is always whole; it is the executor's
    // own (mode 0644), whoever made the file that was there.
    void save() const {
        Entry file;
        if (file.open(expanded(kOriginsFolder) + kOriginsName) != 0) return;
        (void)vfs::replaceFileAt(file.folder, file.name, plist::writeXML(plist::Value(entries_)),
                                 vfs::ReplacementRights::asNew(0644));
    }

    plist::Dictionary entries_;
};

bool isInside(const std::string& path, const std::string& folder) {
    std::string f = vfs::normalizedMachinePath(folder) + "/";
    std::string p = vfs::normalizedMachinePath(path);
    return p.size() > f.size() && p.compare(0, f.size(), f) == 0 &&
           p.find("/../") == std::string::npos && p.find("/./") == std::string::npos;
}

// Refusals are per-file errors like any failed move.
void refuse(Outcome& outcome, const std::string& source, const std::string& why) {
    printText("\t***Error: %s %s; it was left where it is.\n", plist::displayForm(source).c_str(),
              why.c_str());
    outcome.failedWithCode(source, vfs::afpAccessDenied);
}

constexpr const char* kThroughLink = "is reached through a link";

// Renames within one volume; across volumes the File Manager's copy and
// removal. `replace`: a file in the way is replaced (a folder never is).
int moveEntry(const Entry& from, const Entry& to, bool replace, const std::string& source,
              const std::string& folder) {
    int rc = replace ? renameat(from.folder, from.name.c_str(), to.folder, to.name.c_str())
                     : renameat2(from.folder, from.name.c_str(), to.folder, to.name.c_str(),
                                 RENAME_NOREPLACE);
    if (rc == 0) return vfs::noErr;
    if (errno != EXDEV) return vfs::osErrFromErrno(errno);
    return vfs::FSPathMoveObjectSync(
        source, folder, nullptr, nullptr,
        replace ? vfs::kFSFileOperationOverwrite : vfs::kFSFileOperationDefaultOptions);
}

}  // namespace

int disablePreferenceFiles(const plist::Dictionary& parameters) {
    const std::string holding = expanded(kHoldingFolder);
    const std::string user = userFolderName();
    const std::string localPart =
        appendPathComponent(appendPathComponent(holding, "Local", true), user, true);
    const std::string userPart = appendPathComponent(holding, "User", true);

    Outcome outcome;
    Origins origins;
    for (const std::string& source : requestedPaths(parameters, kDisableFilesKey)) {
        std::optional<std::string> name = fileNameOf(source);
        if (!name) {
            printText("\tError: Count not create destination path with for source path %s\n",
                      plist::displayForm(source).c_str());
            outcome.failedWithoutCode(source);
            continue;
        }
        // Any path that mentions the user's folder name counts as the user's own.
        const std::string& folder = stringContainsSubstring(source, user) ? localPart : userPart;
        const std::string destination = appendPathComponent(folder, *name, false);
        printText("\tMoving %s to %s...\n", plist::displayForm(source).c_str(),
                  plist::displayForm(destination).c_str());

        // Taken and put only through folders reached without a link, so a
        // link a user put on the way cannot move someone else's file.
        Entry from, to;
        struct stat st {};
        vfs::OSErr err = vfs::noErr;
        if (int e = from.open(source);
            e != 0 || fstatat(from.folder, from.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            e = e != 0 ? e : errno;
            if (e == ELOOP) {
                refuse(outcome, source, kThroughLink);
                continue;
            }
            err = vfs::fnfErr;
        } else if (S_ISLNK(st.st_mode)) {
            refuse(outcome, source, "is a link");
            continue;
        } else if (int e2 = to.open(destination); e2 != 0) {
            if (e2 == ELOOP) {
                refuse(outcome, source, "would be held through a link");
                continue;
            }
            err = e2 == ENOENT    ? vfs::dirNFErr
                  : e2 == ENOTDIR ? vfs::errFSNotAFolder
                                  : vfs::osErrFromErrno(e2);
        } else {
            struct stat there {};
            if (fstatat(to.folder, to.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) {
                err = vfs::dupFNErr;
            } else {
                origins.set(destination, vfs::normalizedMachinePath(source), st.st_uid);
                err = moveEntry(from, to, false, source, folder);
                if (err != vfs::noErr) origins.erase(destination);
            }
        }
        if (err == vfs::noErr) {
            outcome.succeeded(source);
            continue;
        }
        if (err == vfs::dupFNErr) {
            printText(
                "\t***Error: A file named %s already exists at the path %s.\n"
                "\tManually backup the old file and try again.\n",
                plist::displayForm(*name).c_str(), plist::displayForm(destination).c_str());
        } else {
            printText("\t***Error %ld moving %s\n", static_cast<long>(err),
                      plist::displayForm(source).c_str());
        }
        outcome.failedWithCode(source, err);
    }
    outcome.write(kDisableRecord);
    return 0;
}

int restorePreferenceFiles(const plist::Dictionary& parameters) {
    const std::string userPreferences = expanded(kUserPreferences);
    const uid_t user = getuid();

    Outcome outcome;
    Origins origins;
    for (const std::string& source : requestedPaths(parameters, kRestoreFilesKey)) {
        std::optional<std::string> name = fileNameOf(source);
        if (!name) {
            printText("\tError creating destination path with for source path %s\n",
                      plist::displayForm(source).c_str());
            outcome.failedWithoutCode(source);
            continue;
        }
        const bool local = stringContainsSubstring(source, kHeldLocalMarker);
        std::optional<Origins::Origin> origin = origins.find(source);
        // A held file goes back where it came from; without a record, where
        // its part of the holding folder says.
        const std::string destination =
            origin ? origin->path
                   : appendPathComponent(local ? userPreferences : std::string(kMachinePreferences),
                                         *name, false);
        const std::string folder = removeLastPathComponent(destination, false);
        printText("\tMoving %s to %s...\n", plist::displayForm(source).c_str(),
                  plist::displayForm(destination).c_str());

        Entry from, to;
        struct stat st {};
        vfs::OSErr err = vfs::noErr;
        if (int e = from.open(source);
            e != 0 || fstatat(from.folder, from.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            e = e != 0 ? e : errno;
            if (e == ELOOP) {
                refuse(outcome, source, kThroughLink);
                continue;
            }
            err = vfs::fnfErr;
        } else if (S_ISLNK(st.st_mode)) {
            refuse(outcome, source, "is a link");
            continue;
        } else {
            // Machine-wide preferences are root's; a user's own may be theirs.
            const bool machine = isInside(destination, kMachinePreferences);
            const bool users = isInside(destination, userPreferences);
            if (origin &&
                (origin->owner != st.st_uid || lastPathComponent(origin->path, false) != *name)) {
                refuse(outcome, source, "does not match the record of where it came from");
                continue;
            }
            if (!origin &&
                !(machine ? st.st_uid == 0 : users && (st.st_uid == user || st.st_uid == 0))) {
                refuse(outcome, source,
                       "is not owned by the owner of " + plist::displayForm(folder));
                continue;
            }
            struct stat into {};
            if (int e2 = to.open(destination); e2 != 0) {
                if (e2 == ELOOP) {
                    refuse(outcome, source, "would be restored through a link");
                    continue;
                }
                err = e2 == ENOENT    ? vfs::dirNFErr
                      : e2 == ENOTDIR ? vfs::errFSNotAFolder
                                      : vfs::osErrFromErrno(e2);
            } else if (fstat(to.folder, &into) != 0) {
                err = vfs::osErrFromErrno(errno);
            } else {
                // A recorded root file goes back only among the preferences;
                // anyone else's only into a folder of their own.
                if (origin && (st.st_uid == 0 ? !(machine || users) : into.st_uid != st.st_uid)) {
                    refuse(outcome, source,
                           "is not owned by the owner of " + plist::displayForm(folder));
                    continue;
                }
                struct stat there {};
                if (fstatat(to.folder, to.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISDIR(there.st_mode)) {
                    refuse(outcome, source,
                           "would replace the folder " + plist::displayForm(destination));
                    continue;
                }
                err = moveEntry(from, to, true, source, folder);
            }
        }
        if (err == vfs::noErr) {
            origins.erase(source);
            outcome.succeeded(source);
            continue;
        }
        printText("\tError %ld moving %s\n", static_cast<long>(err),
                  plist::displayForm(source).c_str());
        outcome.failedWithCode(source, err);
    }
    outcome.write(kRestoreRecord);
    return 0;
}
