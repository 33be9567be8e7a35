#pragma once
// Turns progress records into a fraction done: positions against their total,
// or increments summed against what the request announced.

#include <optional>

namespace varno {

class ProgressTracker {
  public:
    // expectedIncrements: the sum of the increments the operation will
    // report, or 0 when unknown.
    void reset(double expectedIncrements);
    void update(double position, double total);
    void complete() { complete_ = true; }
    bool isComplete() const { return complete_; }

    // Between 0 and 1; nullopt while nothing says how far along the work is.
    std::optional<double> fraction() const;
    // Seconds still to go, from the time spent so far; nullopt when unknown.
    std::optional<double> estimateRemaining(double elapsedSeconds) const;

  private:
    double expected_ = 0;
    double incremented_ = 0;
    std::optional<double> fromPosition_;
    bool complete_ = false;
};

}  // namespace varno
