// A preloaded library that watches a GLUT program from outside without
// changing what it asks of GL. Tests and benchmarks read its log; without
// ORVANE_PROBE_LOG it only passes every call on. The benchmarks preload
// bench/bench_probe.cpp beside it for what only they read.
//
//   ORVANE_PROBE_LOG=probe.log LD_PRELOAD=libprobe.so ./orvane
//
// One line per event, appended as it happens (<t>: CLOCK_MONOTONIC seconds,
// the clock of the rate counter and of Python's time.monotonic()):
//
//   reshape <t> <w> <h>        before each call of the reshape callback
//   frame <t> <own> <lib>      after each buffer swap: heap allocations since
//                              the last swap, the program's own and the
//                              libraries'
//
// An allocation (malloc, calloc, realloc, operator new) is the program's own when
// its caller is code of the main executable. Sanitizer builds bring their
// own allocator, so there nothing is counted.
#include <GL/glx.h>
#include <link.h>

#include <cstdarg>
#include <cstdio>
#include <new>

#include "preload.h"

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

void logLine(const char* format, ...) {
    if (logFd < 0) return;
    char line[768];
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0 && write(logFd, line, n < int(sizeof line) ? n : sizeof line - 1) < 0) logFd = -1;
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
    logFd = openProbeLog();
    dl_iterate_phdr(findMainCode, nullptr);
    ready = logFd >= 0;
}

void (*programReshape)(int, int);

void loggedReshape(int width, int height) {
    logLine("reshape %.9f %d %d\n", now(), width, height);
    programReshape(width, height);
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
    logLine("frame %.9f %lu %lu\n", now(), own, library);
    own = library = 0;
}

void glutReshapeFunc(void (*callback)(int, int)) {
    static const auto real = next<void (*)(void (*)(int, int))>("glutReshapeFunc");
    programReshape = callback;
    real(callback ? loggedReshape : nullptr);
}

}  // extern "C"
