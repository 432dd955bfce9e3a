// Windows form of the clocks: the performance counter, and the multimedia
// timer's milliseconds where there is no counter.
#include <windows.h>

#include "tick_convert.h"
#include "tick_source.h"

namespace tick_source {

bool highResolutionFrequency(double* ticksPerSecond) {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency)) return false;
    *ticksPerSecond = fromHalves(frequency.HighPart, frequency.LowPart);
    return true;
}

double highResolutionNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return fromHalves(now.HighPart, now.LowPart);
}

double millisecondsNow() {
    return fromMilliseconds(timeGetTime());
}

}  // namespace tick_source
