// The platform's own clocks against the standard library's over the same
// interval: both sources must tell seconds as seconds.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tick_source.h"

namespace {

double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

TEST(TickSource, PlatformClocksAgreeWithTheStandardClock) {
    double ticksPerSecond = 0;
    ASSERT_TRUE(tick_source::highResolutionFrequency(&ticksPerSecond));
    // Each reading between two standard ones, so that a pause of the test
    // between readings widens the bounds instead of failing it.
    const double before = seconds();
    const double ticks = tick_source::highResolutionNow(), milliseconds = tick_source::millisecondsNow();
    const double started = seconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double stopping = seconds();
    const double ticksElapsed = (tick_source::highResolutionNow() - ticks) / ticksPerSecond;
    const double millisecondsElapsed = (tick_source::millisecondsNow() - milliseconds) / 1000;
    const double after = seconds();
    EXPECT_GE(ticksElapsed, (stopping - started) * 0.999);
    EXPECT_LE(ticksElapsed, (after - before) * 1.001);
    // Whole milliseconds, from a clock that may tick coarsely (Wine updates
    // it from a timer).
    EXPECT_GE(millisecondsElapsed, stopping - started - 0.05);
    EXPECT_LE(millisecondsElapsed, after - before + 0.05);
}

}  // namespace
