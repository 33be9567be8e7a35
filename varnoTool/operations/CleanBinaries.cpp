#include "operations/CleanBinaries.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "Protocol.h"
#include "operations/BundleLocations.h"
#include "Utilities.h"
#include "bundle/arch.h"
#include "bundle/macho.h"
#include "bundle/replace.h"
#include "fs/errors.h"
#include "fs/open.h"

namespace {

constexpr const char* kIdentifier = contract::id::kCleanBinaries.data();
constexpr const char* kLipo = "/usr/bin/lipo";
// The longest executable path the lipo calls take.
constexpr std::size_t kMaxPathLength = 2048;


bool isPowerPC(std::int32_t t) {
    return t == bundle::kCPUTypePowerPC || t == bundle::kCPUTypePowerPC64;
}
bool isIntel(std::int32_t t) {
    return t == bundle::kCPUTypeI386 || t == bundle::kCPUTypeX86_64;
}

std::int64_t sizeAtPath(const std::string& path) {
    FSRef ref;
    posixStringToFSRef(ref, path, false);
    return static_cast<std::int64_t>(std::min<std::uint64_t>(sizeAtFSRef(ref), INT64_MAX));
}

// "a", "a and b", "a, b and c".
std::string describeNames(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
        text += names[i];
    }
    return text;
}

// Clears the name lipo is told to write to. Whoever can write the bundle could
// have left a link there, and lipo, run as the superuser, would write through
// it. Only a file or link is removed, by name in its folder, never followed.
bool clearOutputPath(const std::string& path) {
    std::string leaf;
    int folder = vfs::openParentFolderNoLinks(path, &leaf);
    if (folder < 0) return false;
    struct stat st {};
    bool clear =
        fstatat(folder, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0
            ? errno == ENOENT
            : !S_ISDIR(st.st_mode) && (unlinkat(folder, leaf.c_str(), 0) == 0 || errno == ENOENT);
    close(folder);
    return clear;
}

// Groups whose members may change folders that are otherwise root's: root's
// own and the administrators', who could act as root anyway.
bool trustedGroup(gid_t gid) {
    return gid == 0 || gid == 80;
}

// Whose rights lipo writes its copy with. Whoever can change a folder on
// the way to the executable could swap it for a link after the copy's name
// is cleared, and lipo opens its output by path; run as that folder's owner
// (the one nearest the executable), whatever lipo opens it opens with no
// more than that user could. A path only root can change keeps root. None
// when the path cannot be walked, a folder is open to writers other than
// its owner (lipo could be sent anywhere they like), or such a user's copy
// would become a set-ID executable.
std::optional<uid_t> lipoWriterForPath(const std::string& path) {
    uid_t writer = 0;
    for (std::size_t slash = 0; slash != std::string::npos; slash = path.find('/', slash + 1)) {
        int folder = vfs::openMachinePathNoLinks(slash == 0 ? "/" : path.substr(0, slash),
                                                 O_PATH | O_DIRECTORY);
        if (folder < 0) return std::nullopt;
        struct stat st {};
        int statResult = fstat(folder, &st);
        close(folder);
        if (statResult != 0) return std::nullopt;
        bool sticky = (st.st_mode & S_ISVTX) != 0;
        if (((st.st_mode & S_IWOTH) != 0 && !sticky) ||
            ((st.st_mode & S_IWGRP) != 0 && !sticky && !trustedGroup(st.st_gid)))
            return std::nullopt;
        if (st.st_uid != 0) writer = st.st_uid;
    }
    // The copy such a user's lipo writes is theirs until it takes the
    // executable's place, owner and mode: never a set-ID one.
    if (writer != 0) {
        int file = vfs::openMachinePathNoLinks(path, O_PATH | O_NOFOLLOW);
        struct stat st {};
        bool setID = file < 0 || fstat(file, &st) != 0 || (st.st_mode & (S_ISUID | S_ISGID)) != 0;
        if (file >= 0) close(file);
        if (setID) return std::nullopt;
    }
    return writer;
}

// The status of a tool run: the utility's own failure, else the tool's exit status.
int taskStatus(int result, int exitStatus) {
    return result != 0 ? result : exitStatus;
}

}  // namespace

std::vector<std::string> lipoStringsFromNXArchitectureConstant(std::int32_t cputype) {
    if (isPowerPC(cputype)) return {"ppc", "ppc7400", "ppc750", "ppc970", "ppc64"};
    if (cputype == bundle::kCPUTypeI386) return {"i386"};
    if (cputype == bundle::kCPUTypeX86_64) return {"x86_64"};
    return {};
}

bool containsArchitectureNX(const std::vector<std::int32_t>& cputypes, std::int32_t cputype) {
    for (std::int32_t t : cputypes) {
        if (t == cputype) return true;
    }
    return false;
}

std::vector<bundle::Bundle> allBundlePaths(const plist::Dictionary& parameters) {
    std::vector<std::string> all;
    for (const std::string& folder : requestedBundleFolders(parameters)) {
        printText("\tScanning %s...\n", plist::displayForm(folder).c_str());
        std::vector<std::string> found;
        getDirectoryContentsRecursive(folder.c_str(), false, true, found);
        all.insert(all.end(), found.begin(), found.end());
    }

    std::vector<std::string> work = pathsMatchingExtension(&all, "app", true);
    std::vector<std::string> panes = pathsMatchingExtension(&all, "prefPane", true);
    work.insert(work.end(), panes.begin(), panes.end());

    std::vector<bundle::Bundle> bundles;
    for (const std::string& path : work) {
        if (auto b = bundle::Bundle::create(path)) bundles.push_back(std::move(*b));
    }
    return bundles;
}

std::optional<std::vector<std::string>> lipoArchitecturesFromBundle(const bundle::Bundle& bundle) {
    auto executable = bundle.executablePath();
    if (!executable || executable->size() >= kMaxPathLength) return std::nullopt;
    const std::string& path = *executable;

    // lipo repeats the path, whose bytes need not be UTF-8: its output is
    // read as bytes.
    std::string output;
    int exitStatus = 0;
    int result =
        executeAndWaitForTaskBytes(kLipo, {"lipo", "-info", path}, &output, getuid(), &exitStatus);
    if (int status = taskStatus(result, exitStatus); status != 0) {
        printText("*** Error %d listing archetectures in lipo for %s\n", status,
                  plist::displayForm(path).c_str());
        return std::nullopt;
    }
    if (output.empty()) {
        printText("*** Error: no results listing archetectures in lipo for %s\n",
                  plist::displayForm(path).c_str());
        return std::nullopt;
    }

    return lipoArchitecturesFromInfo(output);
}

std::optional<std::vector<std::string>> lipoArchitecturesFromInfo(std::string_view output) {
    // Only a universal file's listing has names to remove; a thin file's
    // ("Non-fat file: ... is architecture: ...") leaves nothing to strip.
    // The names follow the last " are: ": the path before it may hold those
    // words too.
    if (output.substr(0, 31) != "Architectures in the fat file: ") return std::nullopt;
    std::size_t are = output.rfind(" are: ");
    if (are == std::string_view::npos) return std::nullopt;
    std::vector<std::string> names;
    std::size_t start = are + 6;
    // Every name is followed by a space, so the final newline is never taken.
    for (std::size_t space; (space = output.find(' ', start)) != std::string_view::npos;
         start = space + 1) {
        names.emplace_back(output.substr(start, space - start));
    }
    return names;
}

std::vector<std::string> lipoArchitecturesInBundle(const std::vector<std::string>& names,
                                                   const bundle::Bundle& bundle) {
    std::vector<std::string> present;
    auto listed = lipoArchitecturesFromBundle(bundle);
    if (!listed) return present;
    for (const std::string& name : names) {
        if (arrayContainsString(&*listed, name)) present.push_back(name);
    }
    return present;
}

void removeArchitectureNX(const bundle::Bundle& bundle, const std::vector<std::int32_t>& cputypes,
                          std::int32_t cputype) {
    if (!containsArchitectureNX(cputypes, cputype)) return;
    auto executable = bundle.executablePath();
    if (!executable) return;
    std::vector<std::string> names =
        lipoArchitecturesInBundle(lipoStringsFromNXArchitectureConstant(cputype), bundle);
    // Nothing lipo could remove: running it would only fail.
    if (names.empty()) return;

    const std::string& path = *executable;
    const std::string slimmed = path + ".slimmed";
    std::vector<std::string> argv = {"lipo"};
    for (const std::string& name : names) {
        argv.push_back("-remove");
        argv.push_back(name);
    }
    argv.insert(argv.end(), {path, "-output", slimmed});

    printText("\tStripping %s %s from %s\n", names.size() == 1 ? "architecture" : "architectures",
              describeNames(names).c_str(), plist::displayForm(path).c_str());
    std::optional<uid_t> writer = lipoWriterForPath(path);
    if (!writer || !clearOutputPath(slimmed)) {
        printText("\t*** Error: no slimmed copy of %s; the executable is left as it was.\n",
                  plist::displayForm(path).c_str());
        return;
    }
    std::optional<std::string> output;
    int exitStatus = 0;
    int result = executeAndWaitForTaskWithUserID(kLipo, argv, &output, *writer, &exitStatus);
    int status = taskStatus(result, exitStatus);
    if (status != 0) {
        printText("*** Error %ld stripping %s with lipo: %s\n", static_cast<long>(status),
                  plist::displayForm(path).c_str(),
                  plist::displayForm(output.value_or("")).c_str());
    }
    // Only what this run of lipo wrote may take the executable's place (a
    // file left at that name by an earlier run is no slimmed copy of it);
    // without one the bundle stays exactly as it was.
    if (status != 0 || !fileOrDirectoryExistsAtPath(slimmed, false)) {
        printText("\t*** Error: no slimmed copy of %s; the executable is left as it was.\n",
                  plist::displayForm(path).c_str());
        return;
    }
    std::int64_t saved = sizeAtPath(path) - sizeAtPath(slimmed);

    // The copy is removed as its name was cleared, never through a link
    // swapped into the bundle meanwhile.
    if (AEDEBUG) {
        clearOutputPath(slimmed);
        addToTotalSizeRemoved(saved);
        return;
    }
    // One rename puts the slimmed copy, with the old executable's owner and
    // mode, in its place: no failure can leave the bundle without one.
    int error = bundle::replaceFileKeepingOwnerAndMode(slimmed, path);
    if (error != 0) {
        printText("*** Error %ld moving %s to %s.\n", static_cast<long>(vfs::osErrFromErrno(error)),
                  plist::displayForm(slimmed).c_str(),
                  plist::displayForm(lastPathComponent(path, false)).c_str());
        clearOutputPath(slimmed);
        return;
    }
    addToTotalSizeRemoved(saved);
}

int cleanBinaries(const plist::Dictionary& parameters) {
    countTotalSizeRemoved = false;
    std::vector<bundle::Bundle> bundles = allBundlePaths(parameters);
    const double total = static_cast<double>(bundles.size());
    writeProgressUpdate(0, total);

    for (std::size_t i = 0; i < bundles.size(); ++i) {
        const bundle::Bundle& b = bundles[i];
        bool ppc = boolFromConfigAndKey(&parameters, "ppc");
        bool i386 = boolFromConfigAndKey(&parameters, "i386");
        bool x86_64 = boolFromConfigAndKey(&parameters, "x86_64");
        std::int32_t machine = bundle::NXGetLocalArchInfo().cputype;
        std::vector<std::int32_t> cputypes = b.executableArchitectures();

        // Without 32-bit Intel code a PowerPC part may be what lets the
        // application run at all (through translation), so it stays.
        if (ppc && isIntel(machine) && containsArchitectureNX(cputypes, bundle::kCPUTypeI386))
            removeArchitectureNX(b, cputypes, bundle::kCPUTypePowerPC);
        if (i386 && isPowerPC(machine)) removeArchitectureNX(b, cputypes, bundle::kCPUTypeI386);
        if (x86_64 && isPowerPC(machine)) removeArchitectureNX(b, cputypes, bundle::kCPUTypeX86_64);
        writeProgressUpdate(static_cast<double>(i), total);
    }

    writeTotalSizeRemovedDictionaryWithID(kIdentifier);
    return 0;
}
