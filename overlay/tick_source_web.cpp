// Browser form of the clocks: performance.now(), milliseconds with a
// fraction, monotonic for the page's lifetime.
#include <emscripten.h>

#include "tick_source.h"

namespace tick_source {

bool highResolutionFrequency(double* ticksPerSecond) {
    *ticksPerSecond = 1000.0;
    return true;
}

double highResolutionNow() {
    return emscripten_get_now();
}

double millisecondsNow() {
    return emscripten_get_now();
}

}  // namespace tick_source
