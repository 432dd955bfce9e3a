// The rate counter and its text, against a clock the test drives.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>

#include "frame_rate.h"
#include "tick_convert.h"
#include "tick_source.h"
#include "tick_timer.h"

// This test's clock, linked in place of the platform's. Constant-initialised,
// so it is ready before the program's tickTimer is constructed.
namespace fake_clock {
bool hasHighResolution = true;
double nanoseconds = 0, milliseconds = 0;
}  // namespace fake_clock

namespace tick_source {
bool highResolutionFrequency(double* ticksPerSecond) {
    if (fake_clock::hasHighResolution) *ticksPerSecond = 1e9;
    return fake_clock::hasHighResolution;
}
double highResolutionNow() { return fake_clock::nanoseconds; }
double millisecondsNow() { return fake_clock::milliseconds; }
}  // namespace tick_source

namespace {

// Calls update() `frames` times, `seconds` apart on the clock.
void runFrames(FrameRateCounter& counter, int frames, double seconds) {
    for (int i = 0; i < frames; ++i) {
        fake_clock::nanoseconds += seconds * 1e9;
        fake_clock::milliseconds += seconds * 1e3;
        counter.update();
    }
}

TEST(TickTimer, PrefersTheHighResolutionClockAndFallsBackToMilliseconds) {
    EXPECT_EQ(tickTimer.useMilliseconds, 0);
    EXPECT_EQ(tickTimer.ticksPerSecond, 1e9);
    fake_clock::nanoseconds = 123456789.0;
    EXPECT_EQ(tickTimer.now(), 123456789.0);

    fake_clock::hasHighResolution = false;
    const TickTimer fallback;
    fake_clock::hasHighResolution = true;
    EXPECT_EQ(fallback.useMilliseconds, 1);
    EXPECT_EQ(fallback.ticksPerSecond, 1000.0);
    fake_clock::milliseconds = 4294967296.0 + 5;  // past 32 bits: no wrap
    EXPECT_EQ(fallback.now(), 4294967301.0);
}

// The Windows counter's halves and the 32-bit millisecond time, read without
// sign and without wrapping at 2^31 or 2^32.
TEST(TickSource, WindowsClockReadingsBecomeDoublesWithoutSign) {
    for (auto [high, low, value] : {std::tuple{0, 0x7FFFFFFFu, 2147483647.0}, {0, 0xFFFFFFFFu, 4294967295.0},
                                    {3, 0x80000001u, 3 * 4294967296.0 + 2147483649.0}})
        EXPECT_EQ(tick_source::fromHalves(high, low), value) << high << " " << low;
    EXPECT_EQ(tick_source::fromMilliseconds(0xFFFFFFFFu), 4294967295.0);
}

TEST(FrameRateCounter, FirstUpdateStartsThenHundredFramesInASecondGiveOneRate) {
    FrameRateCounter counter(1.0);
    EXPECT_FALSE(counter.started);
    fake_clock::nanoseconds += 5e9;
    counter.update();
    EXPECT_TRUE(counter.started);
    EXPECT_EQ(counter.framesCounted, 0);
    EXPECT_EQ(counter.lastTicks, fake_clock::nanoseconds);
    // Whole milliseconds keep the sum of 100 steps exact.
    for (int frame = 1; frame <= 101; ++frame) {
        fake_clock::nanoseconds += 10'000'000;
        counter.update();
        EXPECT_EQ(counter.fresh, frame == 100) << "frame " << frame;
        EXPECT_EQ(counter.rate, frame < 100 ? 0.0 : 100.0) << "frame " << frame;
    }
    EXPECT_EQ(counter.framesCounted, 1);
}

TEST(FrameRateCounter, RateUsesTheTimeThatReallyElapsedAndEqualityCounts) {
    FrameRateCounter slow(1.0);
    slow.update();
    runFrames(slow, 2, 0.4);
    EXPECT_FALSE(slow.fresh);
    runFrames(slow, 1, 0.4);
    EXPECT_TRUE(slow.fresh);
    EXPECT_DOUBLE_EQ(slow.rate, 2.5);  // 3 frames in 1.2 s
    runFrames(slow, 2, 0.5);           // the next interval starts where that one ended
    EXPECT_TRUE(slow.fresh);
    EXPECT_DOUBLE_EQ(slow.rate, 2.0);

    FrameRateCounter exact(0.5);
    exact.update();
    fake_clock::nanoseconds += 500'000'000;
    exact.update();
    EXPECT_TRUE(exact.fresh);
}

// Counts draw() calls; the base class's own draw() does nothing.
struct CountingText : FrameRateText {
    explicit CountingText(const char* format) : FrameRateText(format, 1.0) {}
    void draw() override { ++draws; }
    int draws = 0;
};

TEST(FrameRateText, FormatsOncePerIntervalAndDrawsEveryFrame) {
    CountingText text(nullptr);
    EXPECT_STREQ(text.format, "FPS = %.2lf");
    text.update();
    EXPECT_EQ(text.draws, 1);  // even the first, empty-text frame
    runFrames(text, 59, 1.0 / 60);
    EXPECT_STREQ(text.text, "");
    fake_clock::nanoseconds = text.lastTicks + 1e9;
    text.update();
    EXPECT_STREQ(text.text, "FPS = 60.00");
    std::strcpy(text.text, "unchanged");
    runFrames(text, 5, 0.05);
    EXPECT_STREQ(text.text, "unchanged");
    EXPECT_EQ(text.draws, 66);

    CountingText shorter("%.0f frames");
    shorter.update();
    runFrames(shorter, 200, 0.005);
    EXPECT_STREQ(shorter.text, "200 frames");
    runFrames(shorter, 1, 1.0);
    EXPECT_STREQ(shorter.text, "1 frames");
}

TEST(FrameRateText, LongFormatsAndTextsAreCutAt80) {
    const std::string longFormat = std::string(100, 'x') + "%f";
    CountingText cutFormat(longFormat.c_str());
    EXPECT_EQ(std::strlen(cutFormat.format), 80u);
    EXPECT_EQ(cutFormat.format[80], '\0');

    for (const char* format : {"%090.3f", "%080.1f"}) {
        CountingText wide(format);
        wide.update();
        runFrames(wide, 2, 0.5);
        char full[100];
        std::snprintf(full, sizeof full, format, 2.0);
        EXPECT_EQ(std::string(wide.text), std::string(full, 80)) << format;
        EXPECT_EQ(wide.text[80], '\0');
    }
}

}  // namespace
