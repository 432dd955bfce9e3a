// swap_probe: a preloaded library that watches a GLUT program from outside
// and logs what it presents, without touching its GL call stream.
//
//   SWAP_PROBE_LOG=frames.log LD_PRELOAD=/path/to/libswap_probe.so ./orvane
//
// One line per event, written and flushed as it happens (so the log is
// complete up to the last event even if the program is killed):
//
//   start <seconds>            when the probe is loaded, before main: a log
//                              without frames still shows the probe ran
//   swap <seconds> <text>      after each glXSwapBuffers returns
//   reshape <seconds> <width> <height>
//                              before each call of the reshape callback
//
// <seconds> is CLOCK_MONOTONIC with nanosecond digits, the clock the
// program's rate counter reads, and comparable with Python's
// time.monotonic(). <text> is every character the frame passed to
// glutStrokeCharacter, in order, up to the end of the line; bytes outside
// printable ASCII and the backslash are written as \xNN. The frame's text
// is empty when nothing was stroked.
//
// Without SWAP_PROBE_LOG the probe only passes the calls on.
#include <GL/glut.h>
#include <GL/glx.h>
#include <dlfcn.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::FILE* logFile() {
    static std::FILE* file = [] {
        const char* path = std::getenv("SWAP_PROBE_LOG");
        return path && *path ? std::fopen(path, "w") : nullptr;
    }();
    return file;
}

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The characters stroked since the last swap, already escaped.
std::string& frameText() {
    static std::string text;
    return text;
}

template <typename Function>
Function next(const char* name) {
    void* found = dlsym(RTLD_NEXT, name);
    if (!found) {
        std::fprintf(stderr, "swap_probe: %s not found\n", name);
        std::abort();
    }
    return reinterpret_cast<Function>(found);
}

using ReshapeCallback = void (*)(int, int);
ReshapeCallback programReshape = nullptr;

void loggedReshape(int width, int height) {
    if (std::FILE* file = logFile()) {
        std::fprintf(file, "reshape %.9f %d %d\n", monotonicSeconds(), width, height);
        std::fflush(file);
    }
    programReshape(width, height);
}

__attribute__((constructor)) void announce() {
    if (std::FILE* file = logFile()) {
        std::fprintf(file, "start %.9f\n", monotonicSeconds());
        std::fflush(file);
    }
}

}  // namespace

extern "C" {

void glXSwapBuffers(Display* display, GLXDrawable drawable) {
    static const auto real = next<void (*)(Display*, GLXDrawable)>("glXSwapBuffers");
    real(display, drawable);
    if (std::FILE* file = logFile()) {
        std::fprintf(file, "swap %.9f %s\n", monotonicSeconds(), frameText().c_str());
        std::fflush(file);
    }
    frameText().clear();
}

void glutStrokeCharacter(void* font, int character) {
    static const auto real = next<void (*)(void*, int)>("glutStrokeCharacter");
    const unsigned char c = static_cast<unsigned char>(character);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
        frameText() += static_cast<char>(c);
    } else {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
        frameText() += escaped;
    }
    real(font, character);
}

void glutReshapeFunc(ReshapeCallback callback) {
    static const auto real = next<void (*)(ReshapeCallback)>("glutReshapeFunc");
    programReshape = callback;
    real(callback ? loggedReshape : nullptr);
}

}  // extern "C"
