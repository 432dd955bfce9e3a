// The platform's own clocks against the standard library's over the same
// interval: both sources must tell seconds as seconds.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tick_source.h"

TEST(TickSource, PlatformClocksAgreeWithTheStandardClock) {
    double ticksPerSecond = 0;
    ASSERT_TRUE(tick_source::highResolutionFrequency(&ticksPerSecond));
    const auto begin = std::chrono::steady_clock::now();
    const double ticks = tick_source::highResolutionNow(), milliseconds = tick_source::millisecondsNow();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double ticksElapsed = (tick_source::highResolutionNow() - ticks) / ticksPerSecond;
    const double millisecondsElapsed = (tick_source::millisecondsNow() - milliseconds) / 1000;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_NEAR(ticksElapsed, elapsed, 0.01 * elapsed);
    EXPECT_NEAR(millisecondsElapsed, elapsed, 0.03);  // whole, perhaps coarse, milliseconds
}
