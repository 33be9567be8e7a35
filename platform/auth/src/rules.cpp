// Rights: who may have what, from the root-owned rules file.
//
// The file is a property list:
//   rights (dictionary): right name -> dictionary
//       groups (array of strings): members of these groups hold the right
// Root holds every right the rules name; a right they do not name is denied
// to everyone. The file is read strictly: a key or type we do not know, or a
// file anyone but root could have written, refuses every right rather than
// guessing.

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>

#include "host/root.h"
#include "internal.h"
#include "plist/plist.h"

namespace auth::detail {
namespace {

using Rules = std::map<std::string, std::vector<std::string>, std::less<>>;

constexpr size_t kMaxRulesSize = 1 << 20;

Rules defaultRules() {
    std::vector<std::string> admins = {"admin", "wheel", "sudo"};
    return {{kExecuteRight, admins}, {"system.privilege.admin", admins}};
}

std::optional<Rules> rulesFromValue(const plist::Value& root) {
    const plist::Dictionary* top = root.asDictionary();
    if (top == nullptr || top->size() != 1) return std::nullopt;
    const plist::Value* rights = root.find("rights");
    if (rights == nullptr || !rights->isDictionary()) return std::nullopt;
    Rules rules;
    for (const auto& [name, rule] : *rights->asDictionary()) {
        const plist::Dictionary* fields = rule.asDictionary();
        if (fields == nullptr || fields->size() != 1) return std::nullopt;
        const plist::Value* groups = rule.find("groups");
        if (groups == nullptr || !groups->isArray()) return std::nullopt;
        std::vector<std::string>& names = rules[name];
        for (const plist::Value& group : *groups->asArray()) {
            if (!group.isString()) return std::nullopt;
            names.push_back(*group.asString());
        }
    }
    return rules;
}

// nullopt when the file is there but not to be trusted or not understood.
std::optional<Rules> loadRules() {
    std::string path = host::realPath(kRulesPath);
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return defaultRules();
        return std::nullopt;
    }
    struct stat st {};
    std::string bytes;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0 &&
              (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 &&
              static_cast<size_t>(st.st_size) <= kMaxRulesSize;
    if (ok) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (ok && got < bytes.size()) {
            ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            ok = n > 0;
            if (ok) got += static_cast<size_t>(n);
        }
    }
    close(fd);
    if (!ok) return std::nullopt;
    std::optional<plist::Value> value = plist::parse(bytes);
    if (!value) return std::nullopt;
    return rulesFromValue(*value);
}

std::optional<gid_t> groupNamed(const std::string& name) {
    std::vector<char> buf(1024);
    for (;;) {
        struct group entry {};
        struct group* found = nullptr;
        int err = getgrnam_r(name.c_str(), &entry, buf.data(), buf.size(), &found);
        if (err == ERANGE && buf.size() < (1u << 20)) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (err != 0 || found == nullptr) return std::nullopt;
        return found->gr_gid;
    }
}

bool memberOfAny(const std::vector<std::string>& groups, const Credentials& who) {
    for (const std::string& name : groups) {
        std::optional<gid_t> gid = groupNamed(name);
        if (!gid) continue;
        if (*gid == who.gid ||
            std::find(who.groups.begin(), who.groups.end(), *gid) != who.groups.end())
            return true;
    }
    return false;
}

}  // namespace

std::optional<Credentials> callerCredentials() {
    Credentials who;
    who.uid = getuid();
    who.gid = getgid();
    int n = getgroups(0, nullptr);
    if (n < 0) return std::nullopt;
    who.groups.resize(static_cast<size_t>(n));
    n = getgroups(n, who.groups.data());
    if (n < 0) return std::nullopt;
    who.groups.resize(static_cast<size_t>(n));
    return who;
}

OSStatus decideRights(const AuthorizationRights& rights, const Credentials& who) {
    if (rights.empty()) return errAuthorizationSuccess;
    std::optional<Rules> rules = loadRules();
    if (!rules) return errAuthorizationInternal;
    for (const AuthorizationItem& item : rights) {
        auto rule = rules->find(item.name);
        if (rule == rules->end()) return errAuthorizationDenied;
        if (who.uid != 0 && !memberOfAny(rule->second, who)) return errAuthorizationDenied;
    }
    return errAuthorizationSuccess;
}

}  // namespace auth::detail
