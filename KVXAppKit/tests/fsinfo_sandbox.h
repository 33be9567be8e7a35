#pragma once
// Disks and volumes for the sandbox's disk utility: the description set its
// stand-in answers from, the mount table volumes come from, and the runs of
// the utility its journal recorded.

#include <string>
#include <utility>
#include <vector>

#include "app/mounttable.h"
#include "host/testing.h"
#include "plist/plist.h"
#include "sandbox/sandbox.h"

namespace fsinfo_testing {

inline constexpr const char* kDescribed = "/private/var/db/varno-sandbox/diskutil";

inline plist::Dictionary diskDescription(const std::string& id) {
    return {{"DeviceIdentifier", id},
            {"DeviceNode", "/dev/" + id},
            {"MediaName", "Disk " + id},
            {"SMARTStatus", "Verified"},
            {"TotalSize", plist::Value::integer(250059350016)},
            {"WholeDisk", plist::Value::boolean(true)}};
}

inline plist::Dictionary volumeDescription(const std::string& id, const std::string& mountPoint,
                                           bool owners = true) {
    return {{"DeviceIdentifier", id},   {"DeviceNode", "/dev/" + id},
            {"FilesystemType", "hfs"},  {"GlobalPermissionsEnabled", plist::Value::boolean(owners)},
            {"MountPoint", mountPoint}, {"WholeDisk", plist::Value::boolean(false)}};
}

inline void writeListing(const host::testing::SandboxRoot& root,
                         const std::vector<std::string>& wholeDisks) {
    plist::Array disks(wholeDisks.begin(), wholeDisks.end());
    root.writeFile(std::string(kDescribed) + "/list.plist",
                   plist::writeXML(plist::Dictionary{{"AllDisks", disks}, {"WholeDisks", disks}}));
}

inline void writeDescription(const host::testing::SandboxRoot& root, const std::string& id,
                             const plist::Dictionary& description) {
    root.writeFile(std::string(kDescribed) + "/" + id + ".plist", plist::writeXML(description));
}

// Seconds the utility waits before each answer ("0.02").
inline void setDelay(const host::testing::SandboxRoot& root, const std::string& seconds) {
    root.writeFile(std::string(kDescribed) + "/delay", seconds + "\n");
}

// Mounts (device node, mount point) pairs after the sandbox's fixed ones and
// makes their folders.
inline void writeMountTable(const host::testing::SandboxRoot& root,
                            const std::vector<std::pair<std::string, std::string>>& mounts) {
    std::string table;
    for (const auto& [node, point] : mounts) {
        table += node + " on " + point + " (hfs, local, journaled)\n";
        root.mkdirs(point);
    }
    root.writeFile(app::kSandboxMountTable, table);
}

// The argument vectors (without the program) the disk utility was run with.
inline std::vector<std::vector<std::string>> diskutilRuns(const host::testing::SandboxRoot& root) {
    std::vector<std::vector<std::string>> runs;
    for (const sandbox::JournalEntry& entry : sandbox::readJournal(root)) {
        if (entry.argv.empty() || entry.argv[0].find("diskutil") == std::string::npos) continue;
        runs.emplace_back(entry.argv.begin() + 1, entry.argv.end());
    }
    return runs;
}

}  // namespace fsinfo_testing
