#pragma once
// Replacing a file whole: the new bytes go to a temporary file beside the
// old one (created 0600, never through a link), are written and synced, take
// their final owner and mode through the descriptor, and are renamed over
// the old name; then the folder is synced. A crash, a full disk or a killed
// writer leaves either the old file or the new one, never a cut one.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace vfs {

// The owner and mode the new file ends with.
struct ReplacementRights {
    // The mode of a file that did not exist before.
    mode_t mode = 0644;
    // An existing regular file's owner, group and mode carry over to the new
    // file (the owner only where this process may give a file away).
    bool keepExisting = true;
    // An owner and group to give the new file, existing file or not; giving
    // a file away needs privilege, and failing to is an error.
    std::optional<uid_t> owner;
    std::optional<gid_t> group;

    // A new file gets `mode`; an existing one's owner and mode carry over.
    static ReplacementRights newFileMode(mode_t mode) {
        ReplacementRights r;
        r.mode = mode;
        return r;
    }
    // A file of this mode, the writer's, as if nothing had been there.
    static ReplacementRights asNew(mode_t mode) {
        ReplacementRights r;
        r.mode = mode;
        r.keepExisting = false;
        return r;
    }
    // Exactly this owner, group and mode, whatever was there.
    static ReplacementRights exactly(mode_t mode, uid_t owner, gid_t group) {
        ReplacementRights r;
        r.mode = mode;
        r.keepExisting = false;
        r.owner = owner;
        r.group = group;
        return r;
    }
};

// What went wrong, as a value: the step that failed ("create a file beside",
// "write", "replace", "sync the folder of") and the system's errno.
struct ReplaceResult {
    int error = 0;
    const char* step = "";
    bool ok() const { return error == 0; }
    // "cannot <step> <path>: <the system's reason>", for messages.
    std::string describe(std::string_view path) const;
};

// Replaces `name` in the open folder with `bytes`. A folder in its place is
// never replaced (EISDIR); a link in its place is replaced, not followed.
ReplaceResult replaceFileAt(int folderFd, std::string_view name, std::string_view bytes,
                            const ReplacementRights& rights = {});

// The same for a real path; its folder is opened as it stands.
ReplaceResult replaceFile(std::string_view realPath, std::string_view bytes,
                          const ReplacementRights& rights = {});

// The last steps of every replacement, for a file already written: the open
// file `fd`, named `name` in `folderFd`, takes its rights (with keepExisting,
// those of the regular file now at `targetName`), is synced and, if `name`
// still leads to it, renamed over `targetName` in `targetFolderFd`, whose
// folder is then synced. `fd` is closed; on failure the file stays at `name`.
ReplaceResult installReplacementAt(int fd, int folderFd, std::string_view name,
                                   int targetFolderFd, std::string_view targetName,
                                   const ReplacementRights& rights = {});

}  // namespace vfs
