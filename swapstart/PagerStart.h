#pragma once
// Building blocks of kvx_dynamic_pager_start: its log, the checks it makes on
// the swap volume, and the swap folder. Every path is a machine path, found
// under the system root.

#include <cstddef>

// Log file of the tool, appended to.
inline constexpr const char* kPagerStartLog = "/Library/Logs/kvx_dynamic_pager_start.log";

// Output of a check command is collected in a buffer of this size: at most
// one byte less is kept, so that it always ends in a zero.
inline constexpr std::size_t kCommandOutputBufferSize = 2048;
// The pager's swap files in the swap folder: this prefix and a number.
inline constexpr const char* kSwapFilePrefix = "swapfile";

// Time stamps of the log are formatted into a buffer of this size.
inline constexpr std::size_t kTimeStampBufferSize = 128;

// How long the volume may take to appear, and how long ownership gets to be
// enabled before the tool goes on.
inline constexpr unsigned kMountWaitSeconds = 120;
inline constexpr unsigned kOwnershipPauseSeconds = 5;

// Writes the message to standard output and appends it, time-stamped, to the
// log file.
void dpw_log(const char* message);
// dpw_log of a printf-formatted message.
void dpw_logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// True when the disk utility reports "GlobalPermissionsEnabled" for the
// volume; false when its answer cannot be read.
bool ownership_enabled(const char* volume);
// Asks vsdbutil to enable ownership unless it is on already. Always 0.
int enable_ownership(const char* volume);
// True when the list of mounted file systems has an entry mounted exactly on
// the volume's path, and that path, taken without following links, is a
// folder at the root of a mounted file system. (Under a sandbox root the
// volumes are plain folders that its mount table stands for.)
bool volume_mounted(const char* volume);
// Makes the swap folder (if needed) owned by 0:0 with mode 0755: 0 or -1.
// No link is followed on the way, and every folder on the way must be one
// whose entries only root can change. An existing folder is kept only when
// it is root's and holds nothing but the pager's swap files; any other is
// moved aside beside it (its owner keeps it) and a new one made.
int create_swap_dir(const char* path);

// The two waits above. Only under a sandbox system root may the environment
// shorten them (VARNO_SWAP_MOUNT_WAIT_SECONDS, VARNO_SWAP_OWNERSHIP_PAUSE_SECONDS);
// they can never grow.
unsigned mountWaitSeconds();
unsigned ownershipPauseSeconds();

// Sleeps the whole time, through interruptions.
void pauseSeconds(unsigned seconds);

// Collects children that have ended, without waiting for any.
void reapFinishedChildren();
