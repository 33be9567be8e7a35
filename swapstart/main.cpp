// kvx_dynamic_pager_start MOUNT-POINT SWAP-FOLDER
//
// Started by launchd at system start in place of the system's own pager
// daemon. Waits for the swap volume, makes it fit to hold swap files
// (ownership on, a root-owned swap folder) and then becomes the system pager
// with its swap files in MOUNT-POINT followed by SWAP-FOLDER. When the volume
// never appears, or its swap folder cannot be set up, it becomes the pager
// with the system's default swap files, so that the machine still has swap
// and launchd has nothing to restart.

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "PagerStart.h"
#include "host/root.h"

namespace {

constexpr const char* kPager = "/sbin/dynamic_pager";
constexpr const char* kDefaultSwapPrefix = "/private/var/vm/swapfile";
// How often the wait for the volume is written to the log.
constexpr unsigned kWaitLogInterval = 10;

constexpr int kUsageStatus = 64;        // EX_USAGE
constexpr int kPagerFailedStatus = 71;  // EX_OSERR

void printUsage() {
    fprintf(stderr,
            "usage: kvx_dynamic_pager_start MOUNT-POINT SWAP-FOLDER\n"
            "  Waits for the volume mounted at MOUNT-POINT (an absolute path) and starts\n"
            "  %s with its swap files in MOUNT-POINT followed by SWAP-FOLDER\n"
            "  (an absolute path within the volume).\n"
            "  Example: kvx_dynamic_pager_start /Volumes/Data /.vm\n",
            kPager);
}

bool isAbsolutePath(const char* path) {
    return path[0] == '/';
}

// True once the volume is mounted; false when it did not appear in time.
bool waitForVolume(const char* volume) {
    const unsigned limit = mountWaitSeconds();
    for (unsigned waited = 0;; ++waited) {
        if (volume_mounted(volume)) {
            if (waited > 0) dpw_logf("%s is mounted after %u seconds.", volume, waited);
            return true;
        }
        if (waited >= limit) return false;
        if (waited == 0)
            dpw_logf("Waiting for %s to be mounted...", volume);
        else if (waited % kWaitLogInterval == 0)
            dpw_logf("Still waiting for %s to be mounted (%u seconds)...", volume, waited);
        pauseSeconds(1);
    }
}

// Becomes the pager; returns only when that fails.
int startPager(const std::string& swapPrefix) {
    dpw_logf("Starting %s -F %s", kPager, swapPrefix.c_str());
    reapFinishedChildren();
    const std::string real = host::realPath(kPager);
    const char* argv[] = {kPager, "-F", swapPrefix.c_str(), nullptr};
    execv(real.c_str(), const_cast<char* const*>(argv));
    int error = errno;
    dpw_logf("Error starting %s: %s (%d)", kPager, strerror(error), error);
    return kPagerFailedStatus;
}

}  // namespace

int main(int argc, char* argv[]) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
    if (argc != 3 || !isAbsolutePath(argv[1]) || !isAbsolutePath(argv[2])) {
        printUsage();
        return kUsageStatus;
    }
    const char* volume = argv[1];
    const std::string swapFolder = std::string(volume) + argv[2];

    if (!waitForVolume(volume)) {
        dpw_logf("%s was not mounted within %u seconds; using the default swap files %s.", volume,
                 mountWaitSeconds(), kDefaultSwapPrefix);
        return startPager(kDefaultSwapPrefix);
    }
    enable_ownership(volume);
    if (create_swap_dir(swapFolder.c_str()) != 0) {
        dpw_logf("Cannot keep swap files in %s; using the default swap files %s.",
                 swapFolder.c_str(), kDefaultSwapPrefix);
        return startPager(kDefaultSwapPrefix);
    }
    return startPager(swapFolder + "/" + kSwapFilePrefix);
}
