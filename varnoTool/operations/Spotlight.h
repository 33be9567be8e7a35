#pragma once
// Spotlight: reports the indexing state, index size and privacy of volumes,
// and turns a volume's indexing off, rebuilds its index or makes it private
// (on the exclusion list) with mdutil.

#include <sys/types.h>

#include <string>
#include <string_view>

#include "plist/plist.h"

// "KVXAEQuerySpotlightInfoAuthExec": one result record. Returns 0.
int querySpotlightInfo(const plist::Dictionary& parameters);

// The three below start mdutil for "MountPoint" as a child, do not wait for
// it, and return 0; when no child can be made they end the executor with 17
// (or 1 for privatizing).

// "KVXAEDisableSpotlightVolumeIndexingAuthExec": indexing off; the volume
// leaves the exclusion list.
int disableSpotlightVolumeIndexing(const plist::Dictionary& parameters);
// "KVXAERebuildSpotlightVolumeIndexAuthExec": indexing on and a new index;
// the volume leaves the exclusion list.
int rebuildSpotlightVolumeIndex(const plist::Dictionary& parameters);
// "KVXAEPrivatizeSpotlightVolumeAuthExec": the volume joins the exclusion list.
int privatizeSpotlightVolume(const plist::Dictionary& parameters);

// A volume's index folder: ".Spotlight-V100" inside its mount point.
std::string spotlightIndexFolder(std::string_view mountPoint);

// Test seam: how the child that becomes mdutil is made.
namespace spotlight_seams {
extern pid_t (*forkProcess)();
}  // namespace spotlight_seams
