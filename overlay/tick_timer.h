// The program's one clock.
#pragma once

#include <cstdint>

struct TickTimer {
    // Picks the high-resolution source when the platform has one, otherwise
    // the millisecond clock.
    TickTimer();

    // The current tick value; only differences of two values mean anything.
    double now() const;

    std::int32_t useMilliseconds;  // 1: millisecond clock; 0: high resolution
    double ticksPerSecond;
};

extern TickTimer tickTimer;
