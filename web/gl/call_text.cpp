#include "call_text.h"

#include <cstdio>

namespace webgl {

namespace {

struct Named {
    unsigned value;
    const char* name;
};

// The values the layer's calls take.
constexpr Named enums[] = {
    {0x0003, "GL_LINE_STRIP"},
    {0x0007, "GL_QUADS"},
    {0x0201, "GL_LESS"},
    {0x0203, "GL_LEQUAL"},
    {0x0302, "GL_SRC_ALPHA"},
    {0x0303, "GL_ONE_MINUS_SRC_ALPHA"},
    {0x0B44, "GL_CULL_FACE"},
    {0x0B50, "GL_LIGHTING"},
    {0x0B71, "GL_DEPTH_TEST"},
    {0x0BE2, "GL_BLEND"},
    {0x0C50, "GL_PERSPECTIVE_CORRECTION_HINT"},
    {0x0C60, "GL_TEXTURE_GEN_S"},
    {0x0C61, "GL_TEXTURE_GEN_T"},
    {0x0CF5, "GL_UNPACK_ALIGNMENT"},
    {0x0DE1, "GL_TEXTURE_2D"},
    {0x1102, "GL_NICEST"},
    {0x1300, "GL_COMPILE"},
    {0x1401, "GL_UNSIGNED_BYTE"},
    {0x1700, "GL_MODELVIEW"},
    {0x1701, "GL_PROJECTION"},
    {0x1907, "GL_RGB"},
    {0x1E01, "GL_REPLACE"},
    {0x2000, "GL_S"},
    {0x2001, "GL_T"},
    {0x2100, "GL_MODULATE"},
    {0x2200, "GL_TEXTURE_ENV_MODE"},
    {0x2300, "GL_TEXTURE_ENV"},
    {0x2402, "GL_SPHERE_MAP"},
    {0x2500, "GL_TEXTURE_GEN_MODE"},
    {0x2601, "GL_LINEAR"},
    {0x2800, "GL_TEXTURE_MAG_FILTER"},
    {0x2801, "GL_TEXTURE_MIN_FILTER"},
    {0x2802, "GL_TEXTURE_WRAP_S"},
    {0x2803, "GL_TEXTURE_WRAP_T"},
    {0x2901, "GL_REPEAT"},
};
// In the order apitrace lists them.
constexpr Named bits[] = {
    {0x0100, "GL_DEPTH_BUFFER_BIT"},
    {0x2000, "GL_ENABLE_BIT"},
    {0x4000, "GL_COLOR_BUFFER_BIT"},
};

std::string hex(unsigned value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%x", value);
    return buffer;
}

}  // namespace

std::string text(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.16g", value);
    return buffer;
}

std::string text(float value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(value));
    return buffer;
}

std::string text(int value) {
    return std::to_string(value);
}

std::string text(unsigned value) {
    return std::to_string(value);
}

std::string text(Enum e) {
    for (const Named& n : enums)
        if (n.value == e.value) return n.name;
    return hex(e.value);
}

std::string text(Bits mask) {
    std::string line;
    for (const Named& b : bits) {
        if (!(mask.value & b.value)) continue;
        line += line.empty() ? "" : " | ";
        line += b.name;
        mask.value &= ~b.value;
    }
    if (mask.value != 0) line += (line.empty() ? "" : " | ") + hex(mask.value);
    return line.empty() ? "0" : line;
}

std::string text(Names names) {
    if (names.count == 1) return "&" + text(names.names[0]);
    std::string line = "{";
    for (int i = 0; i < names.count; ++i) line += (i ? ", " : "") + text(names.names[i]);
    return line + "}";
}

std::string text(Blob blob) {
    return "blob(" + std::to_string(blob.bytes) + ")";
}

std::string text(Matrix matrix) {
    std::string line = "{";
    for (int i = 0; i < 16; ++i) line += (i ? ", " : "") + text(matrix.m[i]);
    return line + "}";
}

}  // namespace webgl
