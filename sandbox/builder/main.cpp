// varno-sandbox: lays out a fresh Mac-like system root in a folder, for tests,
// the demo and developers. Point VARNO_SYSTEM_ROOT at the folder afterwards.

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>

#include "content.h"
#include "layout.h"

#ifndef VARNO_SANDBOX_LIPO
#define VARNO_SANDBOX_LIPO ""
#endif

namespace {

using namespace sandbox_builder;

const char kUsage[] =
    "usage: varno-sandbox ROOT [options]\n"
    "Lays out a fresh Mac-like system root in the folder ROOT (new, or empty).\n"
    "\n"
    "  --user NAME[:UID]       an account with the home folder /Users/NAME\n"
    "                          (user IDs from 501 up unless given); repeatable\n"
    "  --system-version X.Y.Z  the system version (default 10.6.8)\n"
    "  --content demo          caches, logs and applications of a machine in use\n"
    "  --fill SIZE             size of that content, e.g. 64M (implies --content demo;\n"
    "                          default 32M)\n"
    "  --apps N                application bundles to make (default with the content: 30)\n"
    "  --localizations N       localizations per bundle (default: varied, up to 40)\n"
    "  --seed N                seed of the generated content (default 1)\n"
    "  --bundle PATH           installs a copy of the application bundle PATH (a\n"
    "                          built Varno.app) in /Applications\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::string root;
    std::string bundle;
    LayoutOptions layout;
    ContentOptions content;
};

std::uint64_t parseNumber(const std::string& text, const std::string& option) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 12)
        throw UsageError("bad number for " + option + ": " + text);
    return std::stoull(text);
}

std::uint64_t parseSize(std::string text) {
    std::uint64_t unit = 1;
    if (!text.empty()) {
        switch (text.back()) {
            case 'K':
            case 'k':
                unit = 1ull << 10;
                break;
            case 'M':
            case 'm':
                unit = 1ull << 20;
                break;
            case 'G':
            case 'g':
                unit = 1ull << 30;
                break;
            default:
                break;
        }
        if (unit != 1) text.pop_back();
    }
    std::uint64_t size = parseNumber(text, "--fill") * unit;
    if (size > (64ull << 30)) throw UsageError("--fill is limited to 64G");
    return size;
}

bool validUserName(const std::string& name) {
    if (name.empty() || name.size() > 32 || name[0] == '-' || name[0] == '.') return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-' || c == '.';
        if (!ok) return false;
    }
    return name != "Shared";
}

bool validVersion(const std::string& version) {
    int parts = 0;
    size_t start = 0;
    while (start <= version.size()) {
        size_t dot = version.find('.', start);
        std::string part = version.substr(start, dot == std::string::npos ? dot : dot - start);
        if (part.empty() || part.size() > 2 ||
            part.find_first_not_of("0123456789") != std::string::npos)
            return false;
        ++parts;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return parts >= 2 && parts <= 3;
}

Account parseUser(const std::string& text, uid_t nextUid) {
    Account account;
    size_t colon = text.find(':');
    account.name = text.substr(0, colon);
    account.uid = colon == std::string::npos
                      ? nextUid
                      : static_cast<uid_t>(parseNumber(text.substr(colon + 1), "--user"));
    if (!validUserName(account.name)) throw UsageError("bad user name: " + account.name);
    if (account.uid == 0) throw UsageError("user " + account.name + " cannot have user ID 0");
    return account;
}

Options parseArguments(int argc, char** argv) {
    Options options;
    options.layout.systemVersion = "10.6.8";
    std::set<std::string> names;
    std::set<uid_t> uids;
    uid_t nextUid = 501;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--help") {
            fputs(kUsage, stdout);
            exit(0);
        } else if (arg == "--user") {
            Account account = parseUser(value(), nextUid);
            if (!names.insert(account.name).second || !uids.insert(account.uid).second)
                throw UsageError("user given twice: " + account.name);
            nextUid = std::max(nextUid, account.uid + 1);
            options.layout.users.push_back(account);
        } else if (arg == "--system-version") {
            options.layout.systemVersion = value();
            if (!validVersion(options.layout.systemVersion))
                throw UsageError("bad system version: " + options.layout.systemVersion);
        } else if (arg == "--content") {
            std::string name = value();
            if (name != "demo") throw UsageError("unknown content: " + name);
            options.content.mix = true;
        } else if (arg == "--fill") {
            options.content.size = parseSize(value());
            options.content.mix = true;
        } else if (arg == "--apps") {
            options.content.apps =
                static_cast<int>(std::min<std::uint64_t>(parseNumber(value(), arg), 1000000));
        } else if (arg == "--localizations") {
            std::uint64_t n = parseNumber(value(), arg);
            if (n > static_cast<std::uint64_t>(maxLocalizations()))
                throw UsageError("at most " + std::to_string(maxLocalizations()) +
                                 " localizations per bundle");
            options.content.localizations = static_cast<int>(n);
        } else if (arg == "--seed") {
            options.content.seed = parseNumber(value(), arg);
        } else if (arg == "--bundle") {
            options.bundle = value();
            while (options.bundle.size() > 1 && options.bundle.back() == '/')
                options.bundle.pop_back();
            struct stat st {};
            if (!options.bundle.ends_with(".app") || stat(options.bundle.c_str(), &st) != 0 ||
                !S_ISDIR(st.st_mode))
                throw UsageError("not an application bundle: " + options.bundle);
        } else if (!arg.empty() && arg[0] == '-') {
            throw UsageError("unknown option: " + arg);
        } else if (options.root.empty()) {
            options.root = arg;
        } else {
            throw UsageError("more than one root given: " + arg);
        }
    }
    if (options.root.empty()) throw UsageError("no root folder given");
    options.content.users = options.layout.users;
    return options;
}

bool isEmptyFolder(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) throw std::runtime_error("cannot open " + path + ": " + strerror(errno));
    bool empty = true;
    while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) empty = false;
    }
    closedir(dir);
    return empty;
}

// The root must be a new or empty folder other than the machine's own "/":
// the builder never lays a system over one that is in use.
std::string prepareRoot(const std::string& given) {
    struct stat st {};
    if (lstat(given.c_str(), &st) != 0) {
        if (errno != ENOENT)
            throw std::runtime_error("cannot examine " + given + ": " + strerror(errno));
        if (mkdir(given.c_str(), 0755) != 0)
            throw std::runtime_error("cannot create " + given + ": " + strerror(errno));
    } else if (!S_ISDIR(st.st_mode)) {
        throw std::runtime_error(given + " is not a folder");
    }
    char resolved[PATH_MAX];
    if (realpath(given.c_str(), resolved) == nullptr)
        throw std::runtime_error("cannot resolve " + given + ": " + strerror(errno));
    std::string root = resolved;
    if (root == "/") throw std::runtime_error("refusing to lay out a system over /");
    if (!isEmptyFolder(root)) throw std::runtime_error(root + " is not empty");
    if (chmod(root.c_str(), 0755) != 0)
        throw std::runtime_error("cannot set the mode of " + root + ": " + strerror(errno));
    return root;
}

}  // namespace

int main(int argc, char** argv) {
    umask(022);
    try {
        Options options = parseArguments(argc, argv);
        Root root(prepareRoot(options.root));
        options.layout.toolsFolder = VARNO_SANDBOX_TOOLS_DIR;
        options.layout.standin = VARNO_SANDBOX_STANDIN;
        options.layout.lipo = VARNO_SANDBOX_LIPO;
        layOutSystem(root, options.layout);
        if (!options.bundle.empty()) {
            std::string name = options.bundle.substr(options.bundle.find_last_of('/') + 1);
            copyTree(options.bundle, root.real("/Applications/" + name));
        }
        fillContent(root, options.content);
    } catch (const UsageError& e) {
        fprintf(stderr, "varno-sandbox: %s\n%s", e.what(), kUsage);
        return 64;
    } catch (const std::exception& e) {
        fprintf(stderr, "varno-sandbox: %s\n", e.what());
        return 1;
    }
    return 0;
}
