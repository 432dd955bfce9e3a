// The platform's clocks, behind one seam. Each platform links one form
// (tick_source_posix.cpp on Linux); tests link a clock they drive themselves.
#pragma once

namespace tick_source {

// Stores the high-resolution clock's ticks per second and returns true when
// the platform has such a clock.
bool highResolutionFrequency(double* ticksPerSecond);

// The high-resolution clock, in its own ticks.
double highResolutionNow();

// A monotonic millisecond clock, the fallback source.
double millisecondsNow();

}  // namespace tick_source
