// The rate counter and its text, against a clock the test drives.
#include <gtest/gtest.h>

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

// The design's cases: frames `step` seconds apart; the first update only
// starts, then every `freshAt`-th update ends an interval (an interval that
// has exactly elapsed counts) with `rate`, and the next one starts there.
TEST(FrameRateCounter, FirstUpdateStartsThenEachIntervalEndsWithOneRate) {
    struct Case {
        double interval, step;
        int freshAt;
        double rate;
    };
    for (auto [interval, step, freshAt, rate] : {Case{1.0, 0.01, 100, 100.0}, {1.0, 0.4, 3, 2.5},
                                                 {0.5, 0.5, 1, 2.0}}) {
        FrameRateCounter counter(interval);
        fake_clock::nanoseconds += 5e9;
        counter.update();
        EXPECT_TRUE(counter.started);
        for (int frame = 1; frame <= 2 * freshAt + 1; ++frame) {
            runFrames(counter, 1, step);
            EXPECT_EQ(counter.fresh, frame % freshAt == 0) << "frame " << frame << " every " << step;
            EXPECT_DOUBLE_EQ(counter.rate, frame < freshAt ? 0.0 : rate) << "frame " << frame << " every " << step;
        }
    }
}

// Counts draw() calls; the base class's own draw() does nothing.
struct CountingText : FrameRateText {
    explicit CountingText(const char* format) : FrameRateText(format, 1.0) {}
    void draw() override { ++draws; }
    int draws = 0;
};

TEST(FrameRateText, FormatsOnlyANewRateAndDrawsEveryFrame) {
    CountingText text(nullptr);
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
}

// Two frames in a second, a rate of 2, through each format; formats and
// texts are cut at 80 characters, and both stay terminated.
TEST(FrameRateText, FormatsAndTextsAreCutAt80) {
    const std::string x100(100, 'x'), longFormat = x100 + "%f";
    struct Case {
        const char* format;
        std::string kept, text;
    };
    for (const auto& [format, kept, text] : {Case{nullptr, "FPS = %.2lf", "FPS = 2.00"},
                                             {"%.0f frames", "%.0f frames", "2 frames"},
                                             {"%090.3f", "%090.3f", std::string(80, '0')},
                                             {"%080.1f", "%080.1f", std::string(77, '0') + "2.0"},
                                             {longFormat.c_str(), x100.substr(0, 80), x100.substr(0, 80)}}) {
        CountingText counter(format);
        counter.update();
        runFrames(counter, 2, 0.5);
        EXPECT_EQ(counter.format, kept);
        EXPECT_EQ(counter.text, text) << kept;
        EXPECT_EQ(counter.format[80], '\0');
        EXPECT_EQ(counter.text[80], '\0');
    }
}

}  // namespace
