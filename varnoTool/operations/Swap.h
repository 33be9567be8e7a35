#pragma once
// Swap volume relocation: installs the swap start tool and registers it as a
// launch daemon for the chosen volume in place of the system pager's daemon,
// or undoes that. Takes effect at the next system start.

#include <sys/types.h>

#include "plist/plist.h"

// "KVXAESetSwapVolumeAuthExec". "MountPoint" "/" moves the swap back to the
// startup volume; any other absolute path moves it to that volume. Returns 0,
// 15 to 20 for the failures of the steps, the File Manager code of a failed
// re-enabling move on the way back, or kSwapBadRequestStatus when the request
// names no mount point.
int setSwapVolume(const plist::Dictionary& parameters);

inline constexpr int kSwapBadRequestStatus = 1;

// Test seams for the ownership and mode changes the operation makes itself.
namespace swap_seams {
struct SystemCalls {
    int (*mkdirat)(int, const char*, mode_t);
    int (*fchown)(int, uid_t, gid_t);
    int (*fchmod)(int, mode_t);
};
extern SystemCalls systemCalls;
}  // namespace swap_seams
