// A preloaded library that watches a GLUT program from outside without
// changing what it asks of GL. Tests, the soak run and the benchmarks read
// its log; without ORVANE_PROBE_LOG it only passes every call on.
//
//   ORVANE_PROBE_LOG=probe.log LD_PRELOAD=libprobe.so ./orvane
//
// One line per event, appended as it happens (<t>: CLOCK_MONOTONIC seconds,
// the clock of the rate counter and of Python's time.monotonic()):
//
//   mark <t> <name>            picture-open, picture-close, list-begin, list-end
//   reshape <t> <w> <h>        before each call of the reshape callback
//   frame <t> <own> <lib> <vw> <vh> <angleX> <angleY> <text>
//                              after each buffer swap: heap allocations since
//                              the last swap (the program's own, the
//                              libraries'), the last viewport size, the last
//                              two glRotated angles, the characters stroked
//
// An allocation (malloc, calloc, realloc, operator new) is the program's own when
// its caller is code of the main executable. Sanitizer builds bring their
// own allocator, so there nothing is counted.
#include <GL/glx.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
}

namespace {

int logFd = -1;
bool ready = false;
unsigned long own = 0, library = 0;
uintptr_t mainBegin = 0, mainEnd = 0;
int viewport[2];
double angles[2];
int rotations = 0;
char text[512];
size_t textLength = 0;
FILE* pictures[2];

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

void logLine(const char* format, ...) {
    if (logFd < 0) return;
    char line[768];
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0 && write(logFd, line, n < int(sizeof line) ? n : sizeof line - 1) < 0) logFd = -1;
}

template <typename F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int findMainCode(dl_phdr_info* info, size_t, void*) {
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& h = info->dlpi_phdr[i];
        if (h.p_type != PT_LOAD || !(h.p_flags & PF_X)) continue;
        mainBegin = info->dlpi_addr + h.p_vaddr;
        mainEnd = mainBegin + h.p_memsz;
    }
    return 1;  // the first module is the executable
}

void count(void* caller) {
    if (!ready) return;
    const auto pc = reinterpret_cast<uintptr_t>(caller);
    ++(pc >= mainBegin && pc < mainEnd ? own : library);
}

__attribute__((constructor)) void start() {
    if (const char* path = std::getenv("ORVANE_PROBE_LOG"))
        logFd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    dl_iterate_phdr(findMainCode, nullptr);
    ready = logFd >= 0;
}

void (*programReshape)(int, int);

void loggedReshape(int width, int height) {
    logLine("reshape %.9f %d %d\n", now(), width, height);
    programReshape(width, height);
}

bool isPicture(const char* path) {
    const size_t n = std::strlen(path);
    return n >= 4 && std::strcmp(path + n - 4, ".bmp") == 0;
}

}  // namespace

extern "C" {

#define CALLER __builtin_return_address(0)
void* malloc(size_t size) { count(CALLER); return __libc_malloc(size); }
void* calloc(size_t n, size_t size) { count(CALLER); return __libc_calloc(n, size); }
void* realloc(void* old, size_t size) { count(CALLER); return __libc_realloc(old, size); }

}  // extern "C"

namespace {
void* allocate(size_t size, void* caller) {
    count(caller);
    return __libc_malloc(size ? size : 1);
}
void* allocateOrThrow(size_t size, void* caller) {
    if (void* p = allocate(size, caller)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(size_t size) { return allocateOrThrow(size, CALLER); }
void* operator new[](size_t size) { return allocateOrThrow(size, CALLER); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return allocate(size, CALLER); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return allocate(size, CALLER); }

extern "C" {

void glXSwapBuffers(Display* display, GLXDrawable drawable) {
    static const auto real = next<void (*)(Display*, GLXDrawable)>("glXSwapBuffers");
    real(display, drawable);
    text[textLength] = '\0';
    logLine("frame %.9f %lu %lu %d %d %.17g %.17g %s\n", now(), own, library,
            viewport[0], viewport[1], angles[1], angles[0], text);
    own = library = 0;
    textLength = 0;
    rotations = 0;
}

void glutStrokeCharacter(void* font, int character) {
    static const auto real = next<void (*)(void*, int)>("glutStrokeCharacter");
    if (textLength + 1 < sizeof text) text[textLength++] = static_cast<char>(character);
    real(font, character);
}

void glutReshapeFunc(void (*callback)(int, int)) {
    static const auto real = next<void (*)(void (*)(int, int))>("glutReshapeFunc");
    programReshape = callback;
    real(callback ? loggedReshape : nullptr);
}

void glViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
    static const auto real = next<void (*)(GLint, GLint, GLsizei, GLsizei)>("glViewport");
    viewport[0] = width;
    viewport[1] = height;
    real(x, y, width, height);
}

void glRotated(GLdouble angle, GLdouble x, GLdouble y, GLdouble z) {
    static const auto real = next<void (*)(GLdouble, GLdouble, GLdouble, GLdouble)>("glRotated");
    angles[rotations++ % 2] = angle;
    real(angle, x, y, z);
}

void glNewList(GLuint list, GLenum mode) {
    static const auto real = next<void (*)(GLuint, GLenum)>("glNewList");
    logLine("mark %.9f list-begin\n", now());
    real(list, mode);
}

void glEndList() {
    static const auto real = next<void (*)()>("glEndList");
    real();
    logLine("mark %.9f list-end\n", now());
}

FILE* fopen(const char* path, const char* mode) {
    static const auto real = next<FILE* (*)(const char*, const char*)>("fopen");
    const bool picture = isPicture(path);
    if (picture) logLine("mark %.9f picture-open\n", now());
    FILE* file = real(path, mode);
    if (picture && file) pictures[pictures[0] ? 1 : 0] = file;
    return file;
}

int fclose(FILE* file) {
    static const auto real = next<int (*)(FILE*)>("fclose");
    const int result = real(file);
    if (file && (file == pictures[0] || file == pictures[1])) logLine("mark %.9f picture-close\n", now());
    return result;
}

}  // extern "C"
