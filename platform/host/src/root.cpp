#include "host/root.h"
#include "host/self.h"

#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace host {
namespace {

bool runsWithGainedPrivileges() {
    return getauxval(AT_SECURE) != 0;
}

// Strips trailing slashes; "" and "/" both mean the real root.
std::string normalizedRoot(std::string root) {
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root == "/" ? std::string() : root;
}

bool trustedByRoot(const struct stat& st) {
    return st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A privileged process trusts only a root-owned, root-only-writable file in a
// root-owned, root-only-writable folder beside its executable.
std::optional<std::string> rootFromSidecar() {
    std::optional<std::string> exe = executablePath();
    if (!exe) return std::nullopt;
    std::string dir = *exe;
    dir.erase(dir.rfind('/') + 1);
    int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return std::nullopt;
    struct stat dst {};
    bool ok = fstat(dfd, &dst) == 0 && trustedByRoot(dst);
    int fd = ok ? openat(dfd, "system-root", O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : -1;
    close(dfd);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    char buf[1024];
    ssize_t len = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && trustedByRoot(st))
        len = read(fd, buf, sizeof buf);
    close(fd);
    if (len <= 0 || len == static_cast<ssize_t>(sizeof buf)) return std::nullopt;
    std::string root(buf, static_cast<size_t>(len));
    while (!root.empty() && (root.back() == '\n' || root.back() == '\r')) root.pop_back();
    if (root.empty() || root[0] != '/' || root.find("/..") != std::string::npos)
        return std::nullopt;
    return root;
}

// The running program's own bundle ("X.app/" around Contents/MacOS), or "".
const std::string& ownBundle() {
    static const std::string bundle = [] {
        std::optional<std::string> exe = executablePath();
        if (!exe) return std::string();
        std::string dir = *exe;
        dir.erase(dir.rfind('/'));
        constexpr std::string_view kMacOS = "/Contents/MacOS";
        if (dir.size() <= kMacOS.size() ||
            dir.compare(dir.size() - kMacOS.size(), kMacOS.size(), kMacOS) != 0)
            return std::string();
        return dir.substr(0, dir.size() - kMacOS.size()) + "/";
    }();
    return bundle;
}

}  // namespace

std::string systemRoot() {
    std::string root;
    if (runsWithGainedPrivileges()) {
        static const std::string sidecar = normalizedRoot(rootFromSidecar().value_or("/"));
        root = sidecar;
    } else if (const char* env = secure_getenv("VARNO_SYSTEM_ROOT")) {
        root = normalizedRoot(env);
    }
    if (root.empty() && secure_getenv("VARNO_REQUIRE_SANDBOX") != nullptr) {
        static const char msg[] =
            "refusing to run on the real system root: VARNO_SYSTEM_ROOT names no sandbox\n";
        (void)!write(2, msg, sizeof msg - 1);
        _exit(70);
    }
    return root.empty() ? "/" : root;
}

bool isSandboxed() {
    return systemRoot() != "/";
}

std::string realPath(std::string_view path) {
    std::string root = systemRoot();
    if (root == "/") return std::string(path);
    // A program run from a build tree on a sandbox finds its own resources
    // where its bundle is, as it would inside an installed system.
    const std::string& bundle = ownBundle();
    if (!bundle.empty() && path.substr(0, bundle.size()) == bundle &&
        bundle.compare(0, root.size() + 1, root + "/") != 0)
        return std::string(path);
    std::string out = root;
    if (path.empty() || path.front() != '/') out += '/';
    out += path;
    return out;
}

std::string machinePath(std::string_view path) {
    std::string root = systemRoot();
    if (root == "/") return std::string(path);
    if (path.substr(0, root.size()) != root) return std::string(path);
    std::string_view rest = path.substr(root.size());
    if (rest.empty()) return "/";
    if (rest.front() != '/') return std::string(path);
    return std::string(rest);
}

}  // namespace host
