#pragma once
// The utility layer every operation shares: paths and strings, home folders,
// folder listings and walks, sizes, debug-aware removal, property-list files,
// and running system tools.
//
// Every path here is a machine path ("/Library/Caches", "~/Library/..."
// expanded to "/Users/ann/Library/..."); the platform layer maps it to the
// system root at the system call, and every message shows it as given.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/ref.h"
#include "plist/plist.h"

using vfs::FSRef;

// Strings and paths (POSIX-style URL path semantics; the directory flag only
// matters for how a trailing slash is read).

// The string as UTF-8 with every malformed sequence replaced by "?"; absent
// for an absent string.
std::optional<std::string> utf8StringFromCFString(std::optional<std::string_view> string);
// The bytes as a string; absent for a null pointer or bytes that are not UTF-8.
std::optional<std::string> cfStringFromUTF8String(const char* utf8);
std::string lastPathComponent(std::string_view path, bool isDirectory);
std::string appendPathComponent(std::string_view path, std::string_view component,
                                bool isDirectory);
std::string removePathExtension(std::string_view path, bool isDirectory);
std::string removeLastPathComponent(std::string_view path, bool isDirectory);
std::optional<std::string> pathExtension(std::string_view path, bool isDirectory);
bool stringContainsSubstring(std::string_view string, std::string_view substring);
bool arrayContainsString(const std::vector<std::string>* array, std::string_view string);
std::vector<std::string> pathsMatchingExtension(const std::vector<std::string>* paths,
                                                std::string_view extension, bool isDirectory);
// Packed binary-coded decimal (0x1068 for 10.6.8); 0 when it cannot be read.
std::int32_t systemVersionSInt32();

// File-system references and existence.

void posixStringToFSRef(FSRef& ref, const std::optional<std::string>& path, bool isDirectory);
// A "file://" URL (percent escapes decoded); anything else leaves ref invalid.
void urlToFSRef(FSRef& ref, const std::optional<std::string>& fileURL);
bool fileOrDirectoryExistsAtPath(std::string_view path, bool isDirectory);
// Logical data size of a file, or of every file at any depth below a folder.
std::uint64_t sizeAtFSRef(const FSRef& ref);

// Folder listings, in name (byte) order.

std::vector<std::string> directoryContentNames(std::string_view folder);
std::vector<std::string> directoryContentPaths(std::string_view folder);
int getDirectoryContentsRecursive(const char* path, bool includeFiles, bool includeFolders,
                                  std::vector<std::string>& paths);
int _iterateFolder(const FSRef& folder, bool includeFiles, bool includeFolders,
                   std::vector<std::string>& paths);

// Home folders. Without a user name the base is the home folder of the user
// who started the executor; a failed lookup of it ends the process.

std::optional<std::string> expandTildeInPath(const std::optional<std::string>& path,
                                             const std::optional<std::string>& userName);
std::optional<std::string> utf8StringByExpandingTildeInPath(
    const std::optional<std::string>& path, const std::optional<std::string>& userName);
std::vector<std::string> allUserNames();
std::vector<std::string> firefoxProfileFolderPaths(const std::optional<std::string>& userName);

// Removal: announced, counted into totalSizeRemoved when countTotalSizeRemoved
// is set, and skipped in debug mode unless forced.

// Each file (device, inode) is counted once in a run, however many of its
// links are removed; forgetCountedFiles starts a new run's count.
void removePathCharDebug(const char* path, bool announce, bool force);
void forgetCountedFiles();
void removePathChar(const char* path, bool announce);
void removePath(std::string_view path, bool announce);
void removeContentsOfDirectory(std::string_view folder, bool announce);
void removeFilesFromDirectoryWithSubstringInName(std::string_view folder,
                                                 std::string_view substring, bool announce);
void removeKeyFromDictionary(std::string_view key, std::string_view path, bool substringMatch,
                             bool announce);

// Running tools. `path` is the tool's machine path; argv[0] is passed as
// given. The tool runs as `userID` only: supplementary groups, group and user
// are all dropped before it starts, and it is not started when that fails.
// Its standard output is captured (at most kTaskCaptureLimit bytes) into
// *output, absent when the bytes are not UTF-8. Returns 0 once the tool has
// ended, -1 when it could not be prepared (bad arguments, no pipe). The tool's
// exit status (or 128 + signal) goes to *exitStatus when asked for: 126 when
// it could not be started as that user, 127 when it could not be started.

inline constexpr std::size_t kTaskCaptureLimit = 1048575;
inline constexpr int kTaskDropFailedStatus = 126;
inline constexpr int kTaskExecFailedStatus = 127;

int executeAndWaitForTaskWithUserID(const char* path, const std::vector<std::string>& argv,
                                    std::optional<std::string>* output, uid_t userID,
                                    int* exitStatus = nullptr);
// As executeAndWaitForTaskWithUserID, the output being the bytes the tool
// wrote up to the first NUL, whether or not they are UTF-8 (a tool that
// repeats a name may write any bytes).
int executeAndWaitForTaskBytes(const char* path, const std::vector<std::string>& argv,
                               std::string* output, uid_t userID, int* exitStatus = nullptr);
// As the real user ID (the user who started the executor).
// executeAndWaitForTask for a program already opened (and checked) as `fd`:
// the child runs that very file, whatever its path names by then.
int executeAndWaitForTaskFromDescriptor(int fd, const std::vector<std::string>& argv,
                                        std::optional<std::string>* output,
                                        int* exitStatus = nullptr);
int executeAndWaitForTask(const char* path, const std::vector<std::string>& argv,
                          std::optional<std::string>* output, int* exitStatus = nullptr);
// Replaces the executor with the tool; returns -1 only when that fails.
int forkToTask(const char* path, const std::vector<std::string>& argv);
// Echoes each non-empty line as a tab, the prefix and the line; a line
// longer than kMaxIndentedLine characters is cut there.
inline constexpr std::size_t kMaxIndentedLine = 2047;
void printLinesIndented(const std::optional<std::string>& text,
                        const std::optional<std::string>& prefix);

// Property-list files, home folder name and resources.

std::string userFolderName();
std::string pathForResourceNamed(std::string_view name);

// Opens one of the executor's own resources for reading, found from its real
// executable inside its bundle ("Contents/MacOS" -> "Contents/Resources"),
// never through the system root. Every folder from "/" down and the file must
// be root's and writable by no one else (group write only for root's own
// group; a sticky folder may be writable by all: its root-owned entries are
// still root's alone), and no link is followed. Returns the descriptor, or -1 with errno set (ENOENT outside a
// bundle, EPERM for a component someone else could change).
int openOwnResource(std::string_view name);

// Reads the whole of an open file, at most `limit` bytes; nullopt on failure.
std::optional<std::string> readDescriptor(int fd, std::size_t limit);
std::optional<plist::Dictionary> dictionaryAtPath(const std::optional<std::string>& path);
// Replaces the file atomically; true for an absent dictionary or path.
bool writeDictionaryToPath(const plist::Dictionary* dictionary,
                           const std::optional<std::string>& path);

// Test seams for the privilege drop of executeAndWaitForTaskWithUserID.
namespace utilities_seams {
struct PrivilegeCalls {
    int (*setgroups)(size_t, const gid_t*);
    int (*setresgid)(gid_t, gid_t, gid_t);
    int (*setresuid)(uid_t, uid_t, uid_t);
};
extern PrivilegeCalls privilegeCalls;

// A real folder that openOwnResource takes in place of the bundle's
// resources, for tests that run operations in their own process; the same
// checks apply to it.
extern std::string resourcesFolder;
}  // namespace utilities_seams
