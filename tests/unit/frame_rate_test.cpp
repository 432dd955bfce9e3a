// The rate counter and its text, against a clock the test drives.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "frame_rate.h"
#include "tick_source.h"
#include "tick_timer.h"

// This test's clock, linked in place of the platform's. Constant-initialised,
// so it is ready before the program's tickTimer is constructed.
namespace fake_clock {
bool hasHighResolution = true;
double nanoseconds = 0;
double milliseconds = 0;

void advanceSeconds(double seconds) {
    nanoseconds += seconds * 1e9;
    milliseconds += seconds * 1e3;
}
}  // namespace fake_clock

namespace tick_source {
bool highResolutionFrequency(double* ticksPerSecond) {
    if (!fake_clock::hasHighResolution) return false;
    *ticksPerSecond = 1e9;
    return true;
}
double highResolutionNow() { return fake_clock::nanoseconds; }
double millisecondsNow() { return fake_clock::milliseconds; }
}  // namespace tick_source

namespace {

// Calls update() `frames` times, `seconds` apart on the clock.
template <typename Counter>
void runFrames(Counter& counter, int frames, double seconds) {
    for (int i = 0; i < frames; ++i) {
        fake_clock::advanceSeconds(seconds);
        counter.update();
    }
}

TEST(TickTimer, PrefersTheHighResolutionClock) {
    EXPECT_EQ(tickTimer.useMilliseconds, 0);
    EXPECT_EQ(tickTimer.ticksPerSecond, 1e9);
    fake_clock::nanoseconds = 123456789.0;
    EXPECT_EQ(tickTimer.now(), 123456789.0);
}

TEST(TickTimer, FallsBackToMilliseconds) {
    fake_clock::hasHighResolution = false;
    const TickTimer timer;
    fake_clock::hasHighResolution = true;
    EXPECT_EQ(timer.useMilliseconds, 1);
    EXPECT_EQ(timer.ticksPerSecond, 1000.0);
    fake_clock::milliseconds = 4294967296.0 + 5;  // past 32 bits: no wrap
    EXPECT_EQ(timer.now(), 4294967301.0);
}

TEST(FrameRateCounter, FirstUpdateOnlyStarts) {
    FrameRateCounter counter(1.0);
    EXPECT_FALSE(counter.started);
    fake_clock::advanceSeconds(5.0);
    counter.update();
    EXPECT_TRUE(counter.started);
    EXPECT_EQ(counter.framesCounted, 0);
    EXPECT_EQ(counter.lastTicks, fake_clock::nanoseconds);
    EXPECT_FALSE(counter.fresh);
    EXPECT_EQ(counter.rate, 0.0);
}

TEST(FrameRateCounter, HundredFramesInOneSecond) {
    FrameRateCounter counter(1.0);
    counter.update();
    // Integral milliseconds keep the sum of 100 steps exact.
    for (int frame = 1; frame <= 100; ++frame) {
        fake_clock::nanoseconds += 10'000'000;
        counter.update();
        EXPECT_EQ(counter.fresh, frame == 100) << "frame " << frame;
        EXPECT_EQ(counter.rate, frame == 100 ? 100.0 : 0.0) << "frame " << frame;
    }
    fake_clock::nanoseconds += 10'000'000;
    counter.update();
    EXPECT_FALSE(counter.fresh);
    EXPECT_EQ(counter.rate, 100.0);  // kept until the next interval ends
    EXPECT_EQ(counter.framesCounted, 1);
}

TEST(FrameRateCounter, RateUsesTheTimeThatReallyElapsed) {
    FrameRateCounter slow(1.0);
    slow.update();
    runFrames(slow, 2, 0.4);
    EXPECT_FALSE(slow.fresh);
    runFrames(slow, 1, 0.4);
    EXPECT_TRUE(slow.fresh);
    EXPECT_DOUBLE_EQ(slow.rate, 2.5);  // 3 frames in 1.2 s, not 3 per second

    // The next interval starts where the last one ended.
    runFrames(slow, 2, 0.5);
    EXPECT_TRUE(slow.fresh);
    EXPECT_DOUBLE_EQ(slow.rate, 2.0);
}

TEST(FrameRateCounter, ExactlyOneIntervalCountsAsElapsed) {
    FrameRateCounter counter(0.5);
    counter.update();
    fake_clock::nanoseconds += 500'000'000;
    counter.update();
    EXPECT_TRUE(counter.fresh);
    EXPECT_DOUBLE_EQ(counter.rate, 2.0);
}

TEST(FrameRateText, DefaultFormatWritesTheRateWithTwoDecimals) {
    FrameRateText text(nullptr, 1.0);
    EXPECT_STREQ(text.format, "FPS = %.2lf");
    text.update();
    EXPECT_STREQ(text.text, "");
    runFrames(text, 59, 1.0 / 60);
    EXPECT_STREQ(text.text, "");  // nothing before the first interval ends
    fake_clock::nanoseconds = text.lastTicks + 1e9;
    text.update();
    EXPECT_STREQ(text.text, "FPS = 60.00");
}

TEST(FrameRateText, ShorterTextReplacesLongerOne) {
    FrameRateText text("%.0f frames", 1.0);
    text.update();
    runFrames(text, 200, 0.005);
    EXPECT_STREQ(text.text, "200 frames");
    runFrames(text, 1, 1.0);
    EXPECT_STREQ(text.text, "1 frames");
}

TEST(FrameRateText, LongFormatsAndLongTextsAreCutAt80) {
    const std::string longFormat = std::string(100, 'x') + "%f";
    FrameRateText cutFormat(longFormat.c_str(), 1.0);
    EXPECT_EQ(std::strlen(cutFormat.format), 80u);
    EXPECT_EQ(cutFormat.format[80], '\0');

    // A 90-character result keeps its first 80 characters.
    FrameRateText wide("%090.3f", 1.0);
    wide.update();
    runFrames(wide, 2, 1.0);
    char full[100];
    std::snprintf(full, sizeof full, "%090.3f", 2.0);
    EXPECT_EQ(std::string(wide.text), std::string(full, 80));
    EXPECT_EQ(wide.text[80], '\0');

    // Exactly 80 characters: all kept, the terminator is the array's last.
    FrameRateText exact("%080.1f", 1.0);
    exact.update();
    runFrames(exact, 1, 1.0);
    EXPECT_EQ(std::strlen(exact.text), 80u);
}

// Counts draw() calls; the base class's own draw() does nothing.
class CountingText : public FrameRateText {
public:
    CountingText() : FrameRateText(nullptr, 1.0) {}
    void draw() override { ++draws; }
    int draws = 0;
};

TEST(FrameRateText, DrawsEveryFrameButFormatsOncePerInterval) {
    CountingText text;
    text.update();
    EXPECT_EQ(text.draws, 1);  // even the first, empty-text frame
    runFrames(text, 30, 0.05);
    EXPECT_EQ(text.draws, 31);
    EXPECT_STREQ(text.text, "FPS = 20.00");
    std::strcpy(text.text, "unchanged");
    runFrames(text, 5, 0.05);
    EXPECT_STREQ(text.text, "unchanged");
}

TEST(StrokeFrameRateDisplay, ProgramDisplayIsGreenAtSize24EverySecond) {
    EXPECT_STREQ(frameRateDisplay.format, "FPS = %.2lf");
    EXPECT_EQ(frameRateDisplay.intervalSeconds, 1.0);
    EXPECT_EQ(frameRateDisplay.red, 0.0);
    EXPECT_EQ(frameRateDisplay.green, 1.0);
    EXPECT_EQ(frameRateDisplay.blue, 0.0);
    EXPECT_EQ(frameRateDisplay.textSize, 24);
    EXPECT_FALSE(frameRateDisplay.started);
    EXPECT_STREQ(frameRateDisplay.text, "");
}

}  // namespace
