#include "glut_options.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace glut {

namespace {

// An optionally signed decimal number at `at`, moved past it. False when
// nothing was read; a lone sign counts as a number, 0, as in X11.
bool readInteger(const char*& at, long long& value) {
    const char* start = at;
    const bool negative = *at == '-';
    if (*at == '+' || *at == '-') ++at;
    long long magnitude = 0;
    for (; *at >= '0' && *at <= '9'; ++at) magnitude = std::min(magnitude * 10 + (*at - '0'), 1LL << 40);
    value = negative ? -magnitude : magnitude;
    return at != start;
}

int clampToInt(long long v) {
    return static_cast<int>(std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, v)));
}

// A size as X stores it: unsigned, so a negative one wraps around.
unsigned sizeOf(long long v) {
    if (v > UINT_MAX) return UINT_MAX;
    return static_cast<unsigned>(static_cast<int>(std::max<long long>(INT_MIN, v)));
}

}  // namespace

Geometry parseGeometry(const char* text) {
    Geometry g, none;
    if (!text || !*text) return none;
    const char* at = text + (*text == '=');
    long long value = 0;
    // Only a lower-case x may start a geometry without a width.
    if (*at != '+' && *at != '-' && *at != 'x') {
        if (!readInteger(at, value)) return none;
        g.width = sizeOf(value);
        g.found |= Geometry::kWidth;
    }
    if (*at == 'x' || *at == 'X') {
        ++at;
        if (!readInteger(at, value)) return none;
        g.height = sizeOf(value);
        g.found |= Geometry::kHeight;
    }
    for (const bool isX : {true, false}) {
        if (*at != '+' && *at != '-') break;
        const bool negative = *at++ == '-';
        if (!readInteger(at, value)) return none;
        (isX ? g.x : g.y) = clampToInt(negative ? -value : value);
        g.found |= isX ? Geometry::kX | (negative ? Geometry::kXNegative : 0u)
                       : Geometry::kY | (negative ? Geometry::kYNegative : 0u);
    }
    return *at ? none : g;
}

Options readOptions(int argc, const char* const* argv) {
    Options options;
    const char* geometry = nullptr;
    for (int i = 1; i < argc; ++i) {
        const bool display = std::strcmp(argv[i], "-display") == 0;
        if (!display && std::strcmp(argv[i], "-geometry") != 0) continue;
        if (++i >= argc) {
            options.error = display ? "-display parameter must be followed by display name"
                                    : "-geometry parameter must be followed by window geometry settings";
            return options;
        }
        if (!display) geometry = argv[i];
    }
    const Geometry g = parseGeometry(geometry);
    if ((g.found & (Geometry::kWidth | Geometry::kHeight)) == (Geometry::kWidth | Geometry::kHeight)) {
        options.width = g.width;
        options.height = g.height;
    }
    return options;
}

}  // namespace glut
