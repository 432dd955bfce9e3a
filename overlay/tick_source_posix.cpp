#include <time.h>

#include "tick_source.h"

namespace tick_source {

namespace {

// Both sources read the monotonic clock, so wall-clock changes never disturb
// the rate and there is no wrap-around to handle.
bool readMonotonic(timespec* now) {
    return clock_gettime(CLOCK_MONOTONIC, now) == 0;
}

}  // namespace

bool highResolutionFrequency(double* ticksPerSecond) {
    timespec probe;
    if (!readMonotonic(&probe)) return false;
    *ticksPerSecond = 1e9;
    return true;
}

double highResolutionNow() {
    timespec now{};
    readMonotonic(&now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

double millisecondsNow() {
    timespec now{};
    readMonotonic(&now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec / 1000000);
}

}  // namespace tick_source
