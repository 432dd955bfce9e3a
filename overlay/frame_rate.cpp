#include "frame_rate.h"

#include <cstdio>
#include <cstring>

#include "tick_timer.h"

FrameRateCounter::FrameRateCounter(double intervalSeconds) : intervalSeconds(intervalSeconds) {}

FrameRateCounter::~FrameRateCounter() = default;

void FrameRateCounter::update() {
    if (!started) {
        framesCounted = 0;
        lastTicks = tickTimer.now();
        fresh = false;
        rate = 0.0;
        started = true;
        return;
    }
    framesCounted += 1;
    const double t = tickTimer.now();
    const double elapsedMs = (t - lastTicks) / tickTimer.ticksPerSecond * 1000.0;
    // Compared in milliseconds; an interval that has exactly elapsed counts.
    if (elapsedMs >= intervalSeconds * 1000.0) {
        rate = framesCounted / elapsedMs * 1000.0;
        framesCounted = 0;
        fresh = true;
        lastTicks = t;
    } else {
        fresh = false;
    }
}

FrameRateText::FrameRateText(const char* format, double intervalSeconds)
    : FrameRateCounter(intervalSeconds) {
    std::strncpy(this->format, format ? format : "FPS = %.2lf", kMaxLength);
}

void FrameRateText::update() {
    FrameRateCounter::update();
    if (fresh) {
        // Formatted aside so that `text` keeps its final terminator untouched
        // and still gets all 80 characters of a long result.
        char formatted[kMaxLength + 1];
        const int length = std::snprintf(formatted, sizeof formatted, format, rate);
        const int kept = length < 0 ? 0 : length < kMaxLength ? length : kMaxLength;
        std::memcpy(text, formatted, static_cast<std::size_t>(kept));
        if (kept < kMaxLength) text[kept] = '\0';
    }
    draw();
}

void FrameRateText::draw() {}

StrokeFrameRateDisplay::StrokeFrameRateDisplay(const char* format, double intervalSeconds,
                                               double red, double green, double blue,
                                               int textSize)
    : FrameRateText(format, intervalSeconds),
      red(red),
      green(green),
      blue(blue),
      textSize(textSize) {}
