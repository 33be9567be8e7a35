#pragma once
// One line per comparison for bench/run, which gathers them into a table:
// TABLE, what we measured, the peer, both medians, the median ratio, and our
// peak memory. Each benchmark still prints its own detail above.
#include <sys/resource.h>

#include <cstdio>

namespace bench {

inline void tableRow(const char* measured, const char* peer, double oursSeconds,
                     double peerSeconds, double medianRatio, long oursPeakKiB) {
    std::printf("TABLE\t%s\t%s\t%.4f\t%.4f\t%.2f\t%ld\n", measured, peer, oursSeconds,
                peerSeconds, medianRatio, oursPeakKiB);
    std::fflush(stdout);
}

// Peak resident size so far, in KiB, of this process or of its waited-for
// children.
inline long peakKiB(int who) {
    struct rusage usage {};
    return getrusage(who, &usage) == 0 ? usage.ru_maxrss : -1;
}

}  // namespace bench
