#include "tick_timer.h"

#include "tick_source.h"

TickTimer::TickTimer() : useMilliseconds(0), ticksPerSecond(0.0) {
    if (!tick_source::highResolutionFrequency(&ticksPerSecond)) {
        useMilliseconds = 1;
        ticksPerSecond = 1000.0;
    }
}

double TickTimer::now() const {
    return useMilliseconds ? tick_source::millisecondsNow() : tick_source::highResolutionNow();
}
