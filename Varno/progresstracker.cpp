#include "progresstracker.h"

#include <algorithm>
#include <cmath>

namespace varno {

void ProgressTracker::reset(double expectedIncrements) {
    expected_ = expectedIncrements > 0 ? expectedIncrements : 0;
    incremented_ = 0;
    fromPosition_.reset();
    complete_ = false;
}

void ProgressTracker::update(double position, double total) {
    if (!std::isfinite(position) || !std::isfinite(total)) return;
    if (total == -1.0) {
        // An increment: the amount of work just done.
        incremented_ += position;
        return;
    }
    if (total > 0) fromPosition_ = std::clamp(position / total, 0.0, 1.0);
}

std::optional<double> ProgressTracker::fraction() const {
    if (complete_) return 1.0;
    if (fromPosition_) return fromPosition_;
    if (expected_ > 0) return std::clamp(incremented_ / expected_, 0.0, 1.0);
    return std::nullopt;
}

std::optional<double> ProgressTracker::estimateRemaining(double elapsedSeconds) const {
    auto f = fraction();
    // Too little done to say anything useful yet.
    if (!f || *f < 0.02 || *f >= 1.0 || elapsedSeconds < 1.0) return std::nullopt;
    return elapsedSeconds * (1.0 - *f) / *f;
}

}  // namespace varno
