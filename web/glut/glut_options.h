// GLUT's command-line options as freeglut reads them in glutInit, for the
// browser's GLUT, whose own glutInit reads none. Plain code.
#pragma once

#include <optional>
#include <string>

namespace glut {

// What XParseGeometry makes of "[=][W][{xX}H][{+-}X[{+-}Y]]": the values it
// found, flagged by X11's own bits (none for a malformed string), and the
// values. Numbers too large for an int saturate instead of wrapping.
struct Geometry {
    enum : unsigned { kX = 0x1, kY = 0x2, kWidth = 0x4, kHeight = 0x8, kXNegative = 0x10, kYNegative = 0x20 };
    unsigned found = 0;
    int x = 0, y = 0;
    unsigned width = 0, height = 0;
};
Geometry parseGeometry(const char* text);

struct Options {
    // The window's first size, where the last -geometry gives both sides.
    std::optional<unsigned> width, height;
    // freeglut's complaint about an option without its value; empty if none.
    std::string error;
};

// Reads -display NAME and -geometry WxH[+X+Y] from argv[1..argc-1] as
// freeglut does: each takes the next argument, whatever it is, and the rest
// is passed over.
Options readOptions(int argc, const char* const* argv);

}  // namespace glut
