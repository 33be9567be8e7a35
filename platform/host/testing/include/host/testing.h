#pragma once
// Test support shared by every test suite: a fresh sandbox system root per
// test, and a runner that starts a program as a child with chosen input,
// environment and user, and collects what it wrote and how it ended.

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace host::testing {

// A fresh temporary folder that serves as the system root for as long as the
// object lives: VARNO_SYSTEM_ROOT points at it in this process (and so in
// every child started from it). The folder is removed on destruction.
class SandboxRoot {
  public:
    SandboxRoot();
    ~SandboxRoot();
    SandboxRoot(const SandboxRoot&) = delete;
    SandboxRoot& operator=(const SandboxRoot&) = delete;

    // The real folder behind the sandbox's "/".
    const std::string& path() const { return root_; }
    // The real path of a machine path inside this sandbox.
    std::string real(const std::string& machinePath) const;

    // Creates the machine folder and its parents.
    void mkdirs(const std::string& machinePath, mode_t mode = 0755) const;
    // Writes a file (creating its folder); returns its real path.
    std::string writeFile(const std::string& machinePath, const std::string& content,
                          mode_t mode = 0644) const;
    std::optional<std::string> readFile(const std::string& machinePath) const;
    bool exists(const std::string& machinePath) const;

  private:
    std::string root_;
    std::optional<std::string> previous_;
};

// A temporary folder (mode 0755, so an unprivileged user can enter it),
// removed on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

struct RunOptions {
    std::vector<std::string> argv;           // argv[0] is the program path
    std::string input;                       // written to standard input, then closed
    std::map<std::string, std::string> env;  // set on top of the inherited environment
    std::vector<std::string> unsetEnv;       // removed from the inherited environment
    std::optional<uid_t> uid;                // run as this user (and its group gid)
    std::optional<gid_t> gid;
    std::vector<gid_t> groups;  // supplementary groups with uid
    bool inheritEnv = true;
    int timeoutSeconds = 60;
};

struct RunResult {
    int exitStatus = -1;  // exit code, or -1 when killed
    int signal = 0;       // signal that ended it, 0 when it exited
    bool timedOut = false;
    std::string out;
    std::string err;
};

RunResult run(const RunOptions& options);

// The build tree (from VARNO_BUILD_DIR, set by ctest) and the bundle in it.
std::string buildDir();
std::string bundlePath(const std::string& relative);  // e.g. "Contents/MacOS/varnoTool"

// Removes a folder tree without following links.
void removeTree(const std::string& path);

// Copies a file, keeping its mode bits.
void copyFile(const std::string& from, const std::string& to);

bool runningAsRoot();

// Built with AddressSanitizer: its runtime must come first in the library
// list, needs a vast address space and keeps freed memory in quarantine, so
// preload, address-space and peak-memory checks are left to the plain build.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

}  // namespace host::testing
