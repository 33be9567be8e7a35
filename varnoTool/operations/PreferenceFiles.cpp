#include "operations/PreferenceFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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
constexpr const char* kOriginsPath =
    "~/Library/Application Support/Varno/DisabledPreferenceFiles.plist";
// Where earlier builds kept it, by a fault: read while the right one is missing.
constexpr const char* kEarlierOriginsPath =
    "~/Library/Application Support/VarnoDisabledPreferenceFiles.plist";
constexpr const char* kOriginPathKey = "Path";
constexpr const char* kOriginOwnerKey = "Owner";
constexpr off_t kMaxOriginsSize = 8 << 20;

constexpr const char* kDisableFilesKey = contract::keys::kDisableFiles.data();
constexpr const char* kRestoreFilesKey = contract::keys::kRestoreFiles.data();

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

    void write(const contract::PreferenceFilesRecord& keys) {
        plist::Dictionary record;
        record[std::string(keys.moved)] = plist::Value(std::move(moved));
        record[std::string(keys.failed)] = plist::Value(std::move(failed));
        record[std::string(keys.errors)] = plist::Value(std::move(errors));
        writeDictionaryWithID(record, std::string(keys.tag));
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
        if (!load(kOriginsPath)) earlier_ = load(kEarlierOriginsPath);
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
    // still knows where a held file came from). 0 or the errno of the save.
    int set(const std::string& held, const std::string& origin, uid_t owner) {
        plist::Dictionary d;
        d[kOriginPathKey] = plist::Value(origin);
        d[kOriginOwnerKey] = plist::Value::integer(owner);
        const std::string key = vfs::normalizedMachinePath(held);
        std::optional<plist::Value> before;
        if (auto it = entries_.find(key); it != entries_.end()) before = it->second;
        entries_[key] = plist::Value(std::move(d));
        const int e = save();
        if (e != 0) {
            if (before)
                entries_[key] = *before;
            else
                entries_.erase(key);
        }
        return e;
    }
    void erase(const std::string& held) {
        if (entries_.erase(vfs::normalizedMachinePath(held)) > 0) (void)save();
    }

  private:
    // Replaced whole, so the record is always whole; it is the executor's
    // own (mode 0644), whoever made the file that was there.
    int save() {
        Entry file;
        if (int e = file.open(expanded(kOriginsPath))) return e;
        const vfs::ReplaceResult r =
            vfs::replaceFileAt(file.folder, file.name, plist::writeXML(plist::Value(entries_)),
                               vfs::ReplacementRights::asNew(0644));
        if (r.ok() && earlier_) {
            Entry earlier;
            if (earlier.open(expanded(kEarlierOriginsPath)) == 0)
                (void)unlinkat(earlier.folder, earlier.name.c_str(), 0);
            earlier_ = false;
        }
        return r.error;
    }

    // A regular file of at most kMaxOriginsSize holding a dictionary, reached
    // without links; false when there is none.
    bool load(const char* path) {
        Entry file;
        if (file.open(expanded(path)) != 0) return false;
        int fd =
            openat(file.folder, file.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat st {};
        std::string bytes;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxOriginsSize) {
            bytes.resize(static_cast<size_t>(st.st_size));
            ssize_t n = read(fd, bytes.data(), bytes.size());
            bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
        }
        close(fd);
        auto value = plist::parse(bytes);
        if (!value || !value->asDictionary()) return false;
        entries_ = *value->asDictionary();
        return true;
    }

    plist::Dictionary entries_;
    bool earlier_ = false;  // read from where earlier builds kept it
};

bool isInside(const std::string& path, const std::string& folder) {
    std::string f = vfs::normalizedMachinePath(folder) + "/";
    std::string p = vfs::normalizedMachinePath(path);
    return p.size() > f.size() && p.compare(0, f.size(), f) == 0 &&
           p.find("/../") == std::string::npos && p.find("/./") == std::string::npos;
}

// What one step of a move found: noErr to go on, an error to report, or
// nothing when the file was refused (already counted in the outcome).
using Step = std::optional<vfs::OSErr>;

// Refusals are per-file errors like any failed move.
Step refuse(Outcome& outcome, const std::string& source, const std::string& why) {
    printText("\t***Error: %s %s; it was left where it is.\n", plist::displayForm(source).c_str(),
              why.c_str());
    outcome.failedWithCode(source, vfs::afpAccessDenied);
    return std::nullopt;
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

// The file to move and its status, taken through a folder reached without a
// link, so that a link a user put on the way cannot move someone else's
// file. A link on the way or in the file's place is refused; a file that
// cannot be looked at is not there.
Step openSource(Entry& from, struct stat* st, const std::string& source, Outcome& outcome) {
    int e = from.open(source);
    if (e == 0 && fstatat(from.folder, from.name.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) e = errno;
    if (e == ELOOP) return refuse(outcome, source, kThroughLink);
    if (e != 0) return vfs::fnfErr;
    if (S_ISLNK(st->st_mode)) return refuse(outcome, source, "is a link");
    return vfs::noErr;
}

// The folder the file goes into, reached without a link; `throughLink` is
// the refusal when there is one on the way.
Step openDestination(Entry& to, const std::string& destination, const std::string& source,
                     const char* throughLink, Outcome& outcome) {
    int e = to.open(destination);
    if (e == ELOOP) return refuse(outcome, source, throughLink);
    return e == 0         ? vfs::noErr
           : e == ENOENT  ? vfs::dirNFErr
           : e == ENOTDIR ? vfs::errFSNotAFolder
                          : vfs::osErrFromErrno(e);
}

// Moves one file into the holding folder, never over a file already held;
// its origin is recorded first and dropped again when the move fails.
Step holdFile(const std::string& source, const std::string& destination, const std::string& folder,
              Origins& origins, Outcome& outcome) {
    Entry from, to;
    struct stat st {};
    Step step = openSource(from, &st, source, outcome);
    if (step == vfs::noErr)
        step = openDestination(to, destination, source, "would be held through a link", outcome);
    if (step != vfs::noErr) return step;
    struct stat there {};
    if (fstatat(to.folder, to.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) return vfs::dupFNErr;
    // Without its origin on record the file could not be sent back where it
    // came from, so it is not moved.
    if (int e = origins.set(destination, vfs::normalizedMachinePath(source), st.st_uid))
        return refuse(outcome, source,
                      std::string("could not have its origin recorded (") + std::strerror(e) + ")");
    vfs::OSErr err = moveEntry(from, to, false, source, folder);
    if (err != vfs::noErr) origins.erase(destination);
    return err;
}

void reportHeld(Outcome& outcome, const std::string& source, const std::string& name,
                const std::string& destination, vfs::OSErr err) {
    if (err == vfs::noErr) {
        outcome.succeeded(source);
        return;
    }
    if (err == vfs::dupFNErr) {
        printText(
            "\t***Error: A file named %s already exists at the path %s.\n"
            "\tManually backup the old file and try again.\n",
            plist::displayForm(name).c_str(), plist::displayForm(destination).c_str());
    } else {
        printText("\t***Error %ld moving %s\n", static_cast<long>(err),
                  plist::displayForm(source).c_str());
    }
    outcome.failedWithCode(source, err);
}

// A held file on its way back.
struct Restore {
    std::string source;
    std::string name;
    std::optional<Origins::Origin> origin;
    std::string destination;
    std::string folder;
    bool machine = false;  // the destination is among the machine-wide preferences
    bool users = false;    // ... or among the user's own
};

// A held file goes back where it came from; without a record, where its
// part of the holding folder says.
Restore planRestore(const std::string& source, const std::string& name, const Origins& origins,
                    const std::string& userPreferences) {
    Restore r{source, name, origins.find(source), {}, {}};
    const bool local = stringContainsSubstring(source, kHeldLocalMarker);
    r.destination =
        r.origin ? r.origin->path
                 : appendPathComponent(local ? userPreferences : std::string(kMachinePreferences),
                                       name, false);
    r.folder = removeLastPathComponent(r.destination, false);
    r.machine = isInside(r.destination, kMachinePreferences);
    r.users = isInside(r.destination, userPreferences);
    return r;
}

std::string notOwned(const Restore& r) {
    return "is not owned by the owner of " + plist::displayForm(r.folder);
}

// Why the file may not go back, judged by its owner before anything is
// opened where it goes; empty when it may. Machine-wide preferences are
// root's; a user's own may be theirs.
std::string refusalByOwner(const Restore& r, const struct stat& st, uid_t user) {
    if (r.origin &&
        (r.origin->owner != st.st_uid || lastPathComponent(r.origin->path, false) != r.name))
        return "does not match the record of where it came from";
    if (!r.origin &&
        !(r.machine ? st.st_uid == 0 : r.users && (st.st_uid == user || st.st_uid == 0)))
        return notOwned(r);
    return {};
}

// Why the file may not go into the opened folder; empty when it may. A
// recorded root file goes back only among the preferences; anyone else's
// only into a folder of their own. A folder in the way is never replaced.
std::string refusalByFolder(const Restore& r, const struct stat& st, const struct stat& into,
                            const Entry& to) {
    if (r.origin && (st.st_uid == 0 ? !(r.machine || r.users) : into.st_uid != st.st_uid))
        return notOwned(r);
    struct stat there {};
    if (fstatat(to.folder, to.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(there.st_mode))
        return "would replace the folder " + plist::displayForm(r.destination);
    return {};
}

Step restoreFile(const Restore& r, uid_t user, Outcome& outcome) {
    Entry from, to;
    struct stat st {};
    if (Step step = openSource(from, &st, r.source, outcome); step != vfs::noErr) return step;
    if (std::string why = refusalByOwner(r, st, user); !why.empty())
        return refuse(outcome, r.source, why);
    Step step =
        openDestination(to, r.destination, r.source, "would be restored through a link", outcome);
    if (step != vfs::noErr) return step;
    struct stat into {};
    if (fstat(to.folder, &into) != 0) return vfs::osErrFromErrno(errno);
    if (std::string why = refusalByFolder(r, st, into, to); !why.empty())
        return refuse(outcome, r.source, why);
    return moveEntry(from, to, true, r.source, r.folder);
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
        if (Step step = holdFile(source, destination, folder, origins, outcome))
            reportHeld(outcome, source, *name, destination, *step);
    }
    outcome.write(contract::kDisableRecord);
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
        const Restore r = planRestore(source, *name, origins, userPreferences);
        printText("\tMoving %s to %s...\n", plist::displayForm(source).c_str(),
                  plist::displayForm(r.destination).c_str());
        Step step = restoreFile(r, user, outcome);
        if (step == vfs::noErr) {
            origins.erase(source);
            outcome.succeeded(source);
        } else if (step) {
            printText("\tError %ld moving %s\n", static_cast<long>(*step),
                      plist::displayForm(source).c_str());
            outcome.failedWithCode(source, *step);
        }
    }
    outcome.write(contract::kRestoreRecord);
    return 0;
}
