// A stand-in for a system tool inside a sandbox system root.
//
// The builder copies this program to every tool path of the root
// ("/usr/sbin/diskutil", ...). It appends how it was run to the root's tool
// journal and then runs the tool's script, "/usr/libexec/varno-sandbox/<name>"
// under the same root. A program rather than a script sits at the tool path
// because a script never sees the argument vector's first element, and the
// callers choose it ("diskUtil" or "diskutil").
//
// Journal line: the effective user ID, then every argument, separated by TABs
// and ended by a newline; a TAB, newline or backslash inside an argument is
// written as "\t", "\n" or "\\". An argument that names a path inside the
// root is written as the machine path.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kScriptsFolder = "/usr/libexec/varno-sandbox/";
constexpr const char* kJournal = "/private/var/log/varno-journal";

[[noreturn]] void fail(const char* what, const std::string& object) {
    fprintf(stderr, "sandbox stand-in: %s %s: %s\n", what, object.c_str(), strerror(errno));
    exit(127);
}

std::string parentOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The root is the nearest folder above this program that holds the script of
// this tool. The machine's own "/" is never taken for a sandbox.
std::string findRoot(const std::string& self, const std::string& name) {
    for (std::string dir = parentOf(self); !dir.empty(); dir = parentOf(dir)) {
        if (isRegularFile(dir + kScriptsFolder + name)) return dir;
    }
    return std::string();
}

std::string journalField(const std::string& root, const char* argument) {
    std::string value = argument;
    if (value.size() > root.size() && value.compare(0, root.size(), root) == 0 &&
        value[root.size()] == '/')
        value.erase(0, root.size());
    std::string out;
    for (char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

void appendToJournal(const std::string& root, int argc, char** argv) {
    std::string line = std::to_string(geteuid());
    for (int i = 0; i < argc; ++i) line += '\t' + journalField(root, argv[i]);
    line += '\n';
    std::string path = root + kJournal;
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) fail("cannot open", path);
    // One write per line keeps lines of tools that run at once apart.
    ssize_t written = write(fd, line.data(), line.size());
    if (written != static_cast<ssize_t>(line.size())) fail("cannot append to", path);
    if (close(fd) != 0) fail("cannot close", path);
}

}  // namespace

int main(int argc, char** argv) {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) fail("cannot read", "/proc/self/exe");
    std::string selfPath(self, static_cast<size_t>(n));
    std::string name = selfPath.substr(selfPath.rfind('/') + 1);
    std::string root = findRoot(selfPath, name);
    if (root.empty()) {
        errno = ENOENT;
        fail("no sandbox root holds a script for", name);
    }
    appendToJournal(root, argc, argv);

    if (setenv("VARNO_SANDBOX_ROOT", root.c_str(), 1) != 0)
        fail("cannot set", "VARNO_SANDBOX_ROOT");
    std::string script = root + kScriptsFolder + name;
    std::vector<char*> args;
    args.push_back(const_cast<char*>("sh"));
    args.push_back(script.data());
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execv("/bin/sh", args.data());
    fail("cannot run", script);
}
