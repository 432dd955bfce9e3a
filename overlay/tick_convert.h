// The Windows clocks' readings as doubles. Plain functions, so that every
// platform's tests check them.
#pragma once

#include <cstdint>

namespace tick_source {

// A 64-bit counter given as its halves (LARGE_INTEGER's HighPart and
// LowPart): high x 2^32 + low, the low half taken as unsigned.
inline double fromHalves(std::int32_t high, std::uint32_t low) {
    return high * 4294967296.0 + low;
}

// The millisecond time, an unsigned 32-bit value: at and above 2^31 it stays
// positive.
inline double fromMilliseconds(std::uint32_t milliseconds) {
    return static_cast<double>(milliseconds);
}

}  // namespace tick_source
