// Frame-rate measurement and the on-screen rate text.
#pragma once

#include <cstdint>

// Counts frames against the tick timer and turns the count into a rate once
// per interval.
class FrameRateCounter {
public:
    explicit FrameRateCounter(double intervalSeconds);
    virtual ~FrameRateCounter();

    // The first call starts the measurement; each later call counts a frame.
    // Read `fresh` and `rate` right after it.
    virtual void update();

    std::int32_t framesCounted = 0;  // since the current interval began
    double lastTicks = 0.0;          // tick value at which it began
    double intervalSeconds;
    double rate = 0.0;               // frames per second; 0 before the first
    bool fresh = false;              // true only after an update that set `rate`
    bool started = false;
};

// Keeps the rate as text, re-formatted whenever a new rate is ready. Draws
// nothing itself.
class FrameRateText : public FrameRateCounter {
public:
    static constexpr int kMaxLength = 80;

    // Copies at most 80 characters of `format` (a printf format taking one
    // double), or of "FPS = %.2lf" when it is null.
    FrameRateText(const char* format, double intervalSeconds);

    void update() override;
    virtual void draw();

    char format[kMaxLength + 1] = {};  // the last character stays 0
    char text[kMaxLength + 1] = {};    // empty until the first rate
};

// Draws the text in GLUT's stroke font at the bottom right of the window.
class StrokeFrameRateDisplay : public FrameRateText {
public:
    StrokeFrameRateDisplay(const char* format, double intervalSeconds, double red, double green,
                           double blue, int textSize);

    void draw() override;

    double red, green, blue;
    std::int32_t textSize;  // pixels per 152.38 stroke-font units
};

// The program's rate display, drawn at the end of every frame.
extern StrokeFrameRateDisplay frameRateDisplay;
