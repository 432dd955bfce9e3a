// What only the benchmarks read, preloaded beside the test probe
// (tests/harness/probe.cpp) and appended to the same log:
//
//   mark <t> <name>                 picture-open, picture-close, list-begin, list-end
//   scene <t> <angleX> <angleY> <text>
//                                   after each buffer swap: the last two glRotated
//                                   angles and the characters stroked
//
// <t> is CLOCK_MONOTONIC seconds, as in the probe's own lines. Every call is
// passed on unchanged.
#include <GL/glx.h>

#include <cstdio>
#include <cstring>

#include "preload.h"

namespace {

int logFd = -1;
double angles[2];
int rotations = 0;
char text[512];
size_t textLength = 0;
FILE* pictures[2];

__attribute__((constructor)) void start() { logFd = openProbeLog(); }

void mark(const char* name) {
    if (logFd >= 0) dprintf(logFd, "mark %.9f %s\n", now(), name);
}

}  // namespace

extern "C" {

void glXSwapBuffers(Display* display, GLXDrawable drawable) {
    static const auto real = next<void (*)(Display*, GLXDrawable)>("glXSwapBuffers");
    real(display, drawable);
    text[textLength] = '\0';
    if (logFd >= 0) dprintf(logFd, "scene %.9f %.17g %.17g %s\n", now(), angles[1], angles[0], text);
    textLength = 0;
    rotations = 0;
}

void glutStrokeCharacter(void* font, int character) {
    static const auto real = next<void (*)(void*, int)>("glutStrokeCharacter");
    if (textLength + 1 < sizeof text) text[textLength++] = static_cast<char>(character);
    real(font, character);
}

void glRotated(GLdouble angle, GLdouble x, GLdouble y, GLdouble z) {
    static const auto real = next<void (*)(GLdouble, GLdouble, GLdouble, GLdouble)>("glRotated");
    angles[rotations++ % 2] = angle;
    real(angle, x, y, z);
}

void glNewList(GLuint list, GLenum mode) {
    static const auto real = next<void (*)(GLuint, GLenum)>("glNewList");
    mark("list-begin");
    real(list, mode);
}

void glEndList() {
    static const auto real = next<void (*)()>("glEndList");
    real();
    mark("list-end");
}

FILE* fopen(const char* path, const char* mode) {
    static const auto real = next<FILE* (*)(const char*, const char*)>("fopen");
    const size_t n = std::strlen(path);
    const bool picture = n >= 4 && std::strcmp(path + n - 4, ".bmp") == 0;
    if (picture) mark("picture-open");
    FILE* file = real(path, mode);
    if (picture && file) pictures[pictures[0] ? 1 : 0] = file;
    return file;
}

int fclose(FILE* file) {
    static const auto real = next<int (*)(FILE*)>("fclose");
    const int result = real(file);
    if (file && (file == pictures[0] || file == pictures[1])) mark("picture-close");
    return result;
}

}  // extern "C"
