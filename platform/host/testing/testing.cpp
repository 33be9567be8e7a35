#include "host/testing.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <grp.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace host::testing {
namespace fs = std::filesystem;

namespace {

std::string makeTempDir(const char* stem) {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/" + stem + "-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder: " + std::string(strerror(errno)));
    std::string path(buf.data());
    chmod(path.c_str(), 0755);
    return path;
}

}  // namespace

void removeTree(const std::string& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

SandboxRoot::SandboxRoot() : root_(makeTempDir("varno-root")) {
    if (const char* prev = std::getenv("VARNO_SYSTEM_ROOT")) previous_ = prev;
    setenv("VARNO_SYSTEM_ROOT", root_.c_str(), 1);
}

SandboxRoot::~SandboxRoot() {
    if (previous_) setenv("VARNO_SYSTEM_ROOT", previous_->c_str(), 1);
    else unsetenv("VARNO_SYSTEM_ROOT");
    removeTree(root_);
}

std::string SandboxRoot::real(const std::string& machinePath) const {
    if (machinePath.empty() || machinePath[0] != '/') return root_ + "/" + machinePath;
    return root_ + machinePath;
}

void SandboxRoot::mkdirs(const std::string& machinePath, mode_t mode) const {
    fs::path p = real(machinePath);
    std::error_code ec;
    fs::create_directories(p, ec);
    chmod(p.c_str(), mode);
}

std::string SandboxRoot::writeFile(const std::string& machinePath, const std::string& content,
                                   mode_t mode) const {
    std::string p = real(machinePath);
    std::error_code ec;
    fs::create_directories(fs::path(p).parent_path(), ec);
    {
        std::ofstream f(p, std::ios::binary | std::ios::trunc);
        if (!f) throw std::runtime_error("cannot write " + p);
        f << content;
    }
    chmod(p.c_str(), mode);
    return p;
}

std::optional<std::string> SandboxRoot::readFile(const std::string& machinePath) const {
    std::ifstream f(real(machinePath), std::ios::binary);
    if (!f) return std::nullopt;
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool SandboxRoot::exists(const std::string& machinePath) const {
    struct stat st {};
    return lstat(real(machinePath).c_str(), &st) == 0;
}

TempDir::TempDir() : path_(makeTempDir("varno-test")) {}
TempDir::~TempDir() { removeTree(path_); }

RunResult run(const RunOptions& o) {
    RunResult r;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");

    std::vector<std::string> envStrings;
    if (o.inheritEnv) {
        for (char** e = environ; *e; ++e) {
            std::string kv(*e);
            std::string key = kv.substr(0, kv.find('='));
            bool drop = o.env.count(key) != 0;
            for (const auto& u : o.unsetEnv) drop = drop || u == key;
            if (!drop) envStrings.push_back(kv);
        }
    }
    for (const auto& [k, v] : o.env) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = o.argv;
    std::vector<char*> argv;
    for (auto& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (o.uid) {
            gid_t g = o.gid.value_or(*o.uid);
            if (setgroups(o.groups.size(), o.groups.data()) != 0 || setgid(g) != 0 ||
                setuid(*o.uid) != 0)
                _exit(126);
        } else if (o.gid) {
            if (setgid(*o.gid) != 0) _exit(126);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);

    size_t written = 0;
    int inFd = in[1];
    if (o.input.empty()) {
        close(inFd);
        inFd = -1;
    }
    bool outOpen = true, errOpen = true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(o.timeoutSeconds);
    while (outOpen || errOpen) {
        struct pollfd fds[3];
        int n = 0;
        int outIdx = -1, errIdx = -1, inIdx = -1;
        if (outOpen) { fds[n] = {out[0], POLLIN, 0}; outIdx = n++; }
        if (errOpen) { fds[n] = {err[0], POLLIN, 0}; errIdx = n++; }
        if (inFd >= 0) { fds[n] = {inFd, POLLOUT, 0}; inIdx = n++; }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            r.timedOut = true;
            break;
        }
        int pr = poll(fds, n, static_cast<int>(left.count()));
        if (pr < 0 && errno != EINTR) break;
        if (pr <= 0) continue;
        char buf[65536];
        auto drain = [&](int idx, int fd, std::string& into, bool& open) {
            if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR))) return;
            ssize_t k = read(fd, buf, sizeof buf);
            if (k > 0) into.append(buf, static_cast<size_t>(k));
            else if (k == 0 || errno != EINTR) open = false;
        };
        drain(outIdx, out[0], r.out, outOpen);
        drain(errIdx, err[0], r.err, errOpen);
        if (inIdx >= 0 && (fds[inIdx].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t k = write(inFd, o.input.data() + written, o.input.size() - written);
            if (k > 0) written += static_cast<size_t>(k);
            if (k < 0 || written == o.input.size()) {
                close(inFd);
                inFd = -1;
            }
        }
    }
    if (inFd >= 0) close(inFd);
    close(out[0]);
    close(err[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) r.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
    return r;
}

std::string buildDir() {
    const char* b = std::getenv("VARNO_BUILD_DIR");
    if (!b) throw std::runtime_error("VARNO_BUILD_DIR is not set (run the tests through ctest)");
    return b;
}

std::string bundlePath(const std::string& relative) { return buildDir() + "/Varno.app/" + relative; }

void copyFile(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    struct stat st {};
    if (stat(from.c_str(), &st) == 0) chmod(to.c_str(), st.st_mode & 07777);
}

bool runningAsRoot() { return geteuid() == 0; }

}  // namespace host::testing
