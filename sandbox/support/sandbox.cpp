#include "sandbox/sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <sstream>
#include <stdexcept>

namespace sandbox {
namespace {

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            char e = line[++i];
            fields.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e;
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::string readWhole(int fd, const std::string& path) {
    std::string out;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error("cannot read " + path + ": " + strerror(errno));
        if (n == 0) return out;
        out.append(buffer, static_cast<size_t>(n));
    }
}

std::string describe(const std::string& real, const struct stat& st) {
    std::ostringstream s;
    s << std::oct << (st.st_mode & 07777) << std::dec << " " << st.st_uid << ":" << st.st_gid;
    if (S_ISDIR(st.st_mode)) return "folder " + s.str();
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        ssize_t n = readlink(real.c_str(), target, sizeof target);
        if (n < 0) throw std::runtime_error("cannot read the link " + real);
        return "link " + s.str() + " -> " + std::string(target, static_cast<size_t>(n));
    }
    if (!S_ISREG(st.st_mode)) return "other " + s.str();
    int fd = open(real.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + real + ": " + strerror(errno));
    std::string content = readWhole(fd, real);
    close(fd);
    return "file " + s.str() + " " + std::to_string(content.size()) + " " +
           std::to_string(std::hash<std::string>{}(content));
}

}  // namespace

std::string builderPath() {
    return VARNO_SANDBOX_BUILDER;
}

void build(const host::testing::SandboxRoot& root, const BuildOptions& options) {
    host::testing::RunOptions run;
    run.argv = {builderPath(), root.path()};
    for (const std::string& user : options.users) {
        run.argv.push_back("--user");
        run.argv.push_back(user);
    }
    if (!options.systemVersion.empty()) {
        run.argv.push_back("--system-version");
        run.argv.push_back(options.systemVersion);
    }
    if (options.installSuite) {
        run.argv.push_back("--bundle");
        run.argv.push_back(host::testing::buildDir() + "/Varno.app");
    }
    run.argv.insert(run.argv.end(), options.extraArguments.begin(), options.extraArguments.end());
    run.timeoutSeconds = 300;
    host::testing::RunResult result = host::testing::run(run);
    if (result.exitStatus != 0)
        throw std::runtime_error("the sandbox builder failed (" +
                                 std::to_string(result.exitStatus) + "): " + result.err);
}

std::vector<JournalEntry> readJournal(const host::testing::SandboxRoot& root) {
    std::string path = root.real(kJournalPath);
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + strerror(errno));
    std::string text = readWhole(fd, path);
    close(fd);
    std::vector<JournalEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields = splitFields(line);
        JournalEntry entry;
        entry.euid = static_cast<uid_t>(std::stoul(fields[0]));
        entry.argv.assign(fields.begin() + 1, fields.end());
        entries.push_back(std::move(entry));
    }
    return entries;
}

TreeSnapshot snapshotTree(const host::testing::SandboxRoot& root,
                          const std::vector<std::string>& ignore) {
    TreeSnapshot snapshot;
    std::vector<std::string> pending = {""};
    while (!pending.empty()) {
        std::string machine = pending.back();
        pending.pop_back();
        std::string real = root.path() + machine;
        DIR* dir = opendir(real.c_str());
        if (dir == nullptr)
            throw std::runtime_error("cannot list " + real + ": " + strerror(errno));
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            std::string child = machine + "/" + name;
            if (std::find(ignore.begin(), ignore.end(), child) != ignore.end()) continue;
            struct stat st {};
            if (lstat((root.path() + child).c_str(), &st) != 0)
                throw std::runtime_error("cannot examine " + child + ": " + strerror(errno));
            snapshot[child] = describe(root.path() + child, st);
            if (S_ISDIR(st.st_mode)) pending.push_back(child);
        }
        closedir(dir);
    }
    return snapshot;
}

}  // namespace sandbox
