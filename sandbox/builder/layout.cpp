#include "layout.h"

#include <map>
#include <utility>

#include "plist/plist.h"

namespace sandbox_builder {
namespace {

struct Folder {
    const char* path;
    mode_t mode;
};

// The folders the operations read, clean or write, as a freshly installed
// system has them. World-writable folders carry the sticky bit as there.
const Folder kFolders[] = {
    {"/Applications", 0775},
    {"/Applications/Utilities", 0755},
    {"/Library", 0755},
    {"/Library/Application Support", 0755},
    {"/Library/Caches", 01777},
    {"/Library/Caches/com.apple.ATS", 0755},
    {"/Library/LaunchAgents", 0755},
    {"/Library/LaunchDaemons", 0755},
    {"/Library/Logs", 0775},
    {"/Library/Logs/AppleFileService", 0755},
    {"/Library/Logs/Console", 0775},
    {"/Library/Logs/CrashReporter", 0775},
    {"/Library/Logs/DiagnosticReports", 0775},
    {"/Library/Logs/DirectoryService", 0755},
    {"/Library/Logs/HangReporter", 0775},
    {"/Library/PreferencePanes", 0755},
    {"/Library/Preferences", 0755},
    {"/Library/Preferences/SystemConfiguration", 0755},
    {"/System", 0755},
    {"/System/Library", 0755},
    {"/System/Library/Caches", 0755},
    {"/System/Library/Caches/com.apple.bootstamps", 0755},
    {"/System/Library/Caches/com.apple.kext.caches", 0755},
    {"/System/Library/CoreServices", 0755},
    {"/System/Library/Extensions", 0755},
    {"/System/Library/LaunchDaemons", 0755},
    {"/System/Library/PreferencePanes", 0755},
    {"/Users", 0755},
    {"/Users/Shared", 01777},
    {"/Volumes", 01777},
    {"/bin", 0755},
    {"/sbin", 0755},
    {"/usr", 0755},
    {"/usr/bin", 0755},
    {"/usr/libexec", 0755},
    {"/usr/libexec/varno-sandbox", 0755},
    {"/usr/sbin", 0755},
    {"/usr/share", 0755},
    {"/usr/share/man", 0755},
    {"/private", 0755},
    {"/private/etc", 0755},
    {"/private/tmp", 01777},
    {"/private/var", 0755},
    {"/private/var/db", 0755},
    {"/private/var/log", 0755},
    {"/private/var/log/DiagnosticMessages", 0755},
    {"/private/var/log/apache2", 0755},
    {"/private/var/log/cups", 0755},
    {"/private/var/root", 0750},
    {"/private/var/root/Library", 0700},
    {"/private/var/root/Library/Preferences", 0700},
    {"/private/var/spool", 0755},
    {"/private/var/spool/cups", 0710},
    {"/private/var/spool/cups/tmp", 01770},
    {"/private/var/vm", 0755},
};

// "/etc", "/var" and "/tmp" lead into "/private" as on the platform. The
// links are relative so that they stay inside the root.
const std::pair<const char*, const char*> kRootLinks[] = {
    {"private/etc", "/etc"},
    {"private/tmp", "/tmp"},
    {"private/var", "/var"},
};

// Machine path of every tool the operations run, and the name of its script.
const std::pair<const char*, const char*> kTools[] = {
    {"/bin/launchctl", "launchctl"},
    {"/sbin/dynamic_pager", "dynamic_pager"},
    {"/sbin/fsck_hfs", "fsck_hfs"},
    {"/sbin/mount", "mount"},
    {"/System/Library/Frameworks/CoreServices.framework/Frameworks/LaunchServices.framework/"
     "Support/lsregister",
     "lsregister"},
    {"/usr/bin/atsutil", "atsutil"},
    {"/usr/bin/killall", "killall"},
    {"/usr/bin/last", "last"},
    {"/usr/bin/mdutil", "mdutil"},
    {"/usr/bin/pmset", "pmset"},
    {"/usr/bin/sudo", "sudo"},
    {"/usr/bin/update_dyld_shared_cache", "update_dyld_shared_cache"},
    {"/usr/libexec/locate.updatedb", "locate.updatedb"},
    {"/usr/libexec/makewhatis", "makewhatis"},
    {"/usr/sbin/diskutil", "diskutil"},
    {"/usr/sbin/nvram", "nvram"},
    {"/usr/sbin/vsdbutil", "vsdbutil"},
};

// Folders of a home folder, relative to it.
const char* const kHomeFolders[] = {
    "Desktop",
    "Documents",
    "Library",
    "Library/Application Support",
    "Library/Caches",
    "Library/LaunchAgents",
    "Library/Logs",
    "Library/PreferencePanes",
    "Library/Preferences",
};

// Build numbers of the releases the suite supports best.
const std::map<std::string, std::string> kBuildVersions = {
    {"10.4.11", "8S2167"},
    {"10.5.8", "9L31a"},
    {"10.6.8", "10K549"},
};

void writeSystemVersion(const Root& root, const std::string& version) {
    plist::Dictionary d;
    d["ProductName"] = plist::Value("Mac OS X");
    d["ProductVersion"] = plist::Value(version);
    d["ProductUserVisibleVersion"] = plist::Value(version);
    auto build = kBuildVersions.find(version);
    if (build != kBuildVersions.end()) d["ProductBuildVersion"] = plist::Value(build->second);
    writeFile(root.real("/System/Library/CoreServices/SystemVersion.plist"),
              plist::writeXML(plist::Value(d)));
}

// The system's own launch daemon for the swap pager, as a fresh system has it.
void writePagerDaemon(const Root& root) {
    plist::Dictionary d;
    d["EnableTransactions"] = plist::Value::boolean(true);
    d["HopefullyExitsLast"] = plist::Value::boolean(true);
    d["Label"] = plist::Value("com.apple.dynamic_pager");
    d["OnDemand"] = plist::Value::boolean(false);
    d["ProgramArguments"] =
        plist::Value(plist::Array{"/sbin/dynamic_pager", "-F", "/private/var/vm/swapfile"});
    writeFile(root.real("/System/Library/LaunchDaemons/com.apple.dynamic_pager.plist"),
              plist::writeXML(plist::Value(d)));
}

// The kernel's network variables as a fresh system has them, where the
// platform layer keeps a sandbox's kernel variables.
void writeKernelVariables(const Root& root) {
    writeFile(root.real("/private/var/db/kvx-sysctl.conf"),
              "kern.ipc.maxsockbuf=4194304\n"
              "net.inet.tcp.sendspace=65536\n"
              "net.inet.tcp.recvspace=65536\n"
              "net.inet.tcp.delayed_ack=3\n"
              "net.inet.tcp.rfc1323=1\n");
}

// The account database in the platform's flat-file form, which is also the
// form of the host's own: name:password:uid:gid:gecos:home:shell.
void writeAccounts(const Root& root, const std::vector<Account>& users) {
    std::string passwd =
        "root:*:0:0:System Administrator:/var/root:/bin/sh\n"
        "daemon:*:1:1:System Services:/var/root:/usr/bin/false\n";
    std::string members = "root";
    bool nobodyTaken = false;
    for (const Account& user : users) {
        passwd += user.name + ":*:" + std::to_string(user.uid) + ":" + std::to_string(kStaffGroup) +
                  ":" + user.name + ":" + homeFolder(user) + ":/bin/bash\n";
        members += "," + user.name;
        nobodyTaken = nobodyTaken || user.uid == 65534;
    }
    // The unprivileged user is the host's (65534), which tests run as.
    if (!nobodyTaken)
        passwd += "nobody:*:65534:65534:Unprivileged User:/var/empty:/usr/bin/false\n";
    std::string group = "wheel:*:0:root\ndaemon:*:1:root\nstaff:*:20:" + members +
                        "\nadmin:*:80:" + members + "\nnobody:*:65534:\n";
    writeFile(root.real("/private/etc/passwd"), passwd);
    writeFile(root.real("/private/etc/group"), group);
}

void makeHome(const Root& root, const Account& user) {
    std::string home = root.real(homeFolder(user));
    makeFolder(home, 0755);
    giveTo(home, user.uid, kStaffGroup);
    for (const char* folder : kHomeFolders) {
        std::string path = home + "/" + folder;
        makeFolder(path, 0700);
        giveTo(path, user.uid, kStaffGroup);
    }
    std::string trash = home + "/.Trash";
    makeFolder(trash, 0700);
    giveTo(trash, user.uid, kStaffGroup);
}

void installTools(const Root& root, const LayoutOptions& options) {
    for (const auto& [machinePath, script] : kTools) {
        std::string path = root.real(machinePath);
        makeFolder(path.substr(0, path.rfind('/')));
        copyFile(options.standin, path, 0755);
        copyFile(options.toolsFolder + "/" + script,
                 root.real(std::string("/usr/libexec/varno-sandbox/") + script), 0755);
    }
    if (!options.lipo.empty()) copyFile(options.lipo, root.real("/usr/bin/lipo"), 0755);
    // Stand-ins may run as any user (some run as the user who started the
    // executor), and each appends to the journal.
    writeFile(root.real("/private/var/log/varno-journal"), "", 0666);
}

}  // namespace

std::string homeFolder(const Account& account) {
    return "/Users/" + account.name;
}

void layOutSystem(const Root& root, const LayoutOptions& options) {
    for (const Folder& folder : kFolders) makeFolder(root.real(folder.path), folder.mode);
    for (const auto& [target, link] : kRootLinks) makeSymlink(target, root.real(link));
    writeSystemVersion(root, options.systemVersion);
    writePagerDaemon(root);
    writeKernelVariables(root);
    writeAccounts(root, options.users);
    for (const Account& user : options.users) makeHome(root, user);
    installTools(root, options);
}

}  // namespace sandbox_builder
