#include "operations/Spotlight.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "Protocol.h"
#include "Utilities.h"
#include "fs/errors.h"
#include "fs/ref.h"
#include "host/spotlight.h"

namespace spotlight_seams {
pid_t (*forkProcess)() = ::fork;
}  // namespace spotlight_seams

namespace {

constexpr const char* kQueryIdentifier = contract::id::kQuerySpotlightInfo.data();
constexpr const char* kMountPointKey = contract::keys::kMountPoint.data();
constexpr const char* kMountPointsKey = contract::keys::kMountPoints.data();
constexpr const char* kVolumesKey = contract::kSpotlightVolumesKey.data();
constexpr const char* kVolumeMountPointKey = contract::spotlight::kMountPoint.data();
constexpr const char* kIndexingStatusKey = contract::spotlight::kIndexingStatus.data();
constexpr const char* kIndexSizeKey = contract::spotlight::kIndexSize.data();
constexpr const char* kSelfExcludedKey = contract::spotlight::kSelfExcluded.data();
constexpr const char* kMdutil = "/usr/bin/mdutil";
constexpr unsigned kSettleTicks = 15;  // a quarter of a second for mdutil to start

// Packed system versions: 10.5 is 0x1050 to 0x105F.
constexpr std::int32_t kLastBefore105 = 0x104F;
constexpr std::int32_t kLast105 = 0x105F;

enum class Version { Before105, Is105, After105 };

Version runningVersion() {
    std::int32_t v = systemVersionSInt32();
    if (v <= kLastBefore105) return Version::Before105;
    return v <= kLast105 ? Version::Is105 : Version::After105;
}

// Becomes the superuser completely, so that the tools started later are too.
// Without privileges this fails and the tools run as the caller, which can do
// no harm.
void becomeSuperuser() {
    (void)!setuid(0);
}

const std::string* mountPointOf(const plist::Dictionary& parameters) {
    const plist::Value* value = requestValue(parameters, kMountPointKey);
    const std::string* mountPoint = value == nullptr ? nullptr : value->asString();
    // Without a volume there is nothing to index or exclude.
    if (mountPoint == nullptr) wstrnl("\t*** Error: no mount point.");
    return mountPoint;
}

// Starts mdutil with the index switch for the volume, as a child that does
// not come back. The parent returns; a child that cannot be made ends the
// executor with failureStatus.
void startMdutil(const char* indexing, const std::string& mountPoint, bool childBecomesRoot,
                 int failureStatus) {
    fflush(nullptr);  // nothing buffered is written twice
    pid_t pid = spotlight_seams::forkProcess();
    if (pid < 0) {
        wstrnl("\t*** Error in fork()");
        exit(failureStatus);
    }
    if (pid > 0) return;
    if (childBecomesRoot && setuid(0) != 0) _exit(255);
    forkToTask(kMdutil, {"mdutil", "-i", indexing, "-E", mountPoint});
    _exit(255);
}

}  // namespace

std::string spotlightIndexFolder(std::string_view mountPoint) {
    return appendPathComponent(mountPoint, ".Spotlight-V100", true);
}

int querySpotlightInfo(const plist::Dictionary& parameters) {
    becomeSuperuser();
    const plist::Value* requested = requestValue(parameters, kMountPointsKey);
    const std::vector<std::string> excluded =
        host::_MDCopyExclusionList().value_or(std::vector<std::string>{});

    plist::Array volumes;
    if (requested != nullptr && requested->isArray()) {
        for (const plist::Value& entry : *requested->asArray()) {
            const std::string* mountPoint = entry.asString();
            if (mountPoint == nullptr) continue;
            plist::Dictionary volume;
            volume[kVolumeMountPointKey] = plist::Value(*mountPoint);

            std::optional<std::string> status;
            executeAndWaitForTask(kMdutil, {"mdutil", "-s", *mountPoint}, &status);
            fflush(stdout);
            if (status && !status->empty()) volume[kIndexingStatusKey] = plist::Value(*status);

            const std::string index = spotlightIndexFolder(*mountPoint);
            struct stat st {};
            int error = vfs::lstatMachinePath(index, &st);
            if (error != 0 && error != ENOENT && error != ENOTDIR)
                printText("\tError %ld getting kCFURLFileExists for %s\n",
                          static_cast<long>(vfs::osErrFromErrno(error)),
                          plist::displayForm(index).c_str());
            if (error == 0) {
                FSRef ref;
                posixStringToFSRef(ref, index, true);
                volume[kIndexSizeKey] = plist::Value::integer(static_cast<std::int64_t>(
                    std::min<std::uint64_t>(sizeAtFSRef(ref), INT64_MAX)));
                if (arrayContainsString(&excluded, *mountPoint))
                    volume[kSelfExcludedKey] = plist::Value::boolean(true);
            }
            volumes.emplace_back(std::move(volume));
        }
    }
    plist::Dictionary result;
    result[kVolumesKey] = plist::Value(std::move(volumes));
    writeDictionaryWithID(result, kQueryIdentifier);
    return 0;
}

int disableSpotlightVolumeIndexing(const plist::Dictionary& parameters) {
    const std::string* mountPoint = mountPointOf(parameters);
    if (mountPoint == nullptr) return -1;
    const Version version = runningVersion();
    if (version == Version::Before105) host::_MDSetExclusion(*mountPoint, false);
    startMdutil("off", *mountPoint, true, 17);
    Delay(kSettleTicks);
    if (version != Version::Before105) host::_MDSetExclusion(*mountPoint, false);
    return 0;
}

int rebuildSpotlightVolumeIndex(const plist::Dictionary& parameters) {
    const std::string* mountPoint = mountPointOf(parameters);
    if (mountPoint == nullptr) return -1;
    const Version version = runningVersion();
    if (version == Version::Is105) host::_MDSetExclusion(*mountPoint, false);
    startMdutil("on", *mountPoint, true, 17);
    Delay(kSettleTicks);
    if (version != Version::Is105) host::_MDSetExclusion(*mountPoint, false);
    return 0;
}

int privatizeSpotlightVolume(const plist::Dictionary& parameters) {
    const std::string* mountPoint = mountPointOf(parameters);
    if (mountPoint == nullptr) return -1;
    becomeSuperuser();
    host::_MDSetExclusion(*mountPoint, true);
    startMdutil("on", *mountPoint, false, 1);
    // Added again once mdutil is on its way, should starting it have changed the list.
    host::_MDSetExclusion(*mountPoint, true);
    return 0;
}
