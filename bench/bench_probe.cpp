// bench_probe: preloaded into a GL program to time it from outside, without
// changing a single call it makes: every interposed function passes its
// arguments straight on to the real one (BENCH_CACHED_WINDOW_SIZE aside).
//
//   BENCH_PROBE_FILE=run.probe LD_PRELOAD=/path/to/libbench_probe.so ./orvane
//
// The probe keeps its figures in BENCH_PROBE_FILE, a small file mapped
// shared, so that recording costs no system call and the bench can read it
// while the program runs or after it has been killed. Layout (native byte
// order; bench/run_bench.py reads it):
//
//   double  marks[kMarks]          see Mark: CLOCK_MONOTONIC seconds, or sums
//   uint64  swaps                  buffer swaps so far
//   double  swapTimes[kSwapTimes]  when each of the first kSwapTimes swaps
//                                  returned
//
// The marks: when the probe was loaded (after the dynamic linker, before the
// program's static initialisation), glutInit and glutCreateWindow entry and
// return, the picture files' fopen..fclose (sunset.bmp, colormap.bmp),
// glTexImage2D, glNewList..glEndList, the first glClear, the first swap, and
// the time spent in glutGet.
//
// BENCH_CALLGRIND=W:N:K, under valgrind --tool=callgrind, zeroes the counts
// when swap W returns, dumps them every N swaps after that (so each dump
// holds exactly N frames), and ends the process after K dumps.
//
// BENCH_CACHED_WINDOW_SIZE=1 is an experiment, not a measurement of the
// program as it is: glutGet(GLUT_WINDOW_WIDTH / GLUT_WINDOW_HEIGHT) is
// answered from the size the last reshape callback was given instead of
// asking the X server (freeglut makes that a round trip every time). The GL
// calls stay the same; the bench shows what the round trips cost.
#include <GL/gl.h>
#include <GL/glut.h>
#include <GL/glx.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <valgrind/callgrind.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum Mark {
    kLoaded,            // probe constructor
    kInitEnter,         // glutInit
    kInitReturn,
    kWindowEnter,       // glutCreateWindow
    kWindowReturn,
    kFirstPictureOpen,  // first fopen of a picture
    kLastSetUpEvent,    // latest fclose of a picture, glTexImage2D or glEndList return
    kPictureSeconds,    // sum over picture files of fopen entry .. fclose return
    kPictures,
    kUploadSeconds,     // sum over glTexImage2D calls
    kUploads,
    kListSeconds,       // sum over glNewList entry .. glEndList return
    kLists,
    kFirstClear,        // first glClear entry
    kFirstSwap,         // first glXSwapBuffers return
    kGlutGetSeconds,    // sum over glutGet calls
    kGlutGetCalls,
    kMarks = 20
};

constexpr std::size_t kSwapTimes = 1 << 16;

struct Record {
    double marks[kMarks];
    std::uint64_t swaps;
    double swapTimes[kSwapTimes];
};

Record* record = nullptr;

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void mark(Mark m, double t) {
    if (record && record->marks[m] == 0.0) record->marks[m] = t;
}

void add(Mark sum, Mark count, double seconds, double t) {
    if (!record) return;
    record->marks[sum] += seconds;
    record->marks[count] += 1.0;
    record->marks[kLastSetUpEvent] = t;
}

template <typename Function>
Function real(const char* name) {
    void* found = dlsym(RTLD_NEXT, name);
    if (!found) {
        std::fprintf(stderr, "bench_probe: %s not found\n", name);
        std::abort();
    }
    return reinterpret_cast<Function>(found);
}

struct Callgrind {
    unsigned long warmUp = 0, frames = 0, dumps = 0;
};

Callgrind callgrind;

bool cachedWindowSize = false;
int reshapeWidth = -1;
int reshapeHeight = -1;

using ReshapeCallback = void (*)(int, int);
ReshapeCallback programReshape = nullptr;

void reshapeSeen(int width, int height) {
    reshapeWidth = width;
    reshapeHeight = height;
    programReshape(width, height);
}

__attribute__((constructor)) void load() {
    const double t = now();
    if (const char* setting = std::getenv("BENCH_CALLGRIND")) {
        std::sscanf(setting, "%lu:%lu:%lu", &callgrind.warmUp, &callgrind.frames, &callgrind.dumps);
    }
    const char* cached = std::getenv("BENCH_CACHED_WINDOW_SIZE");
    cachedWindowSize = cached && std::strcmp(cached, "1") == 0;
    const char* path = std::getenv("BENCH_PROBE_FILE");
    if (!path || !*path) return;
    const int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror("bench_probe");
        return;
    }
    void* mapped = ftruncate(fd, sizeof(Record)) == 0
                       ? mmap(nullptr, sizeof(Record), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                       : MAP_FAILED;
    close(fd);
    if (mapped == MAP_FAILED) {
        std::perror("bench_probe");
        return;
    }
    record = static_cast<Record*>(mapped);
    mark(kLoaded, t);
}

// The picture file being read, and when its fopen began.
std::FILE* picture = nullptr;
double pictureOpened = 0.0;
double listBegun = 0.0;

bool isPicture(const char* path) {
    const char* base = std::strrchr(path, '/');
    base = base ? base + 1 : path;
    return std::strcmp(base, "sunset.bmp") == 0 || std::strcmp(base, "colormap.bmp") == 0;
}

std::FILE* openWatched(std::FILE* (*open)(const char*, const char*), const char* path,
                       const char* mode) {
    const double t = now();
    std::FILE* file = open(path, mode);
    if (path && isPicture(path)) {
        mark(kFirstPictureOpen, t);
        if (file) {
            picture = file;
            pictureOpened = t;
        }
    }
    return file;
}

}  // namespace

extern "C" {

void glutInit(int* argc, char** argv) {
    static const auto next = real<void (*)(int*, char**)>("glutInit");
    mark(kInitEnter, now());
    next(argc, argv);
    mark(kInitReturn, now());
}

int glutCreateWindow(const char* title) {
    static const auto next = real<int (*)(const char*)>("glutCreateWindow");
    mark(kWindowEnter, now());
    const int window = next(title);
    mark(kWindowReturn, now());
    return window;
}

void glutReshapeFunc(ReshapeCallback callback) {
    static const auto next = real<void (*)(ReshapeCallback)>("glutReshapeFunc");
    if (!cachedWindowSize || !callback) return next(callback);
    programReshape = callback;
    next(reshapeSeen);
}

int glutGet(GLenum what) {
    static const auto next = real<int (*)(GLenum)>("glutGet");
    if (cachedWindowSize && reshapeWidth >= 0) {
        if (what == GLUT_WINDOW_WIDTH) return reshapeWidth;
        if (what == GLUT_WINDOW_HEIGHT) return reshapeHeight;
    }
    const double t = now();
    const int result = next(what);
    if (record) {
        record->marks[kGlutGetSeconds] += now() - t;
        record->marks[kGlutGetCalls] += 1.0;
    }
    return result;
}

std::FILE* fopen(const char* path, const char* mode) {
    static const auto next = real<std::FILE* (*)(const char*, const char*)>("fopen");
    return openWatched(next, path, mode);
}

std::FILE* fopen64(const char* path, const char* mode) {
    static const auto next = real<std::FILE* (*)(const char*, const char*)>("fopen64");
    return openWatched(next, path, mode);
}

int fclose(std::FILE* file) {
    static const auto next = real<int (*)(std::FILE*)>("fclose");
    const int result = next(file);
    if (file && file == picture) {
        const double t = now();
        add(kPictureSeconds, kPictures, t - pictureOpened, t);
        picture = nullptr;
    }
    return result;
}

void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width,
                  GLsizei height, GLint border, GLenum format, GLenum type, const void* pixels) {
    static const auto next =
        real<void (*)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum,
                      const void*)>("glTexImage2D");
    const double t = now();
    next(target, level, internalFormat, width, height, border, format, type, pixels);
    const double done = now();
    add(kUploadSeconds, kUploads, done - t, done);
}

void glNewList(GLuint list, GLenum mode) {
    static const auto next = real<void (*)(GLuint, GLenum)>("glNewList");
    listBegun = now();
    next(list, mode);
}

void glEndList() {
    static const auto next = real<void (*)()>("glEndList");
    next();
    const double done = now();
    add(kListSeconds, kLists, done - listBegun, done);
}

void glClear(GLbitfield mask) {
    static const auto next = real<void (*)(GLbitfield)>("glClear");
    if (record && record->marks[kFirstClear] == 0.0) mark(kFirstClear, now());
    next(mask);
}

void glXSwapBuffers(Display* display, GLXDrawable drawable) {
    static const auto next = real<void (*)(Display*, GLXDrawable)>("glXSwapBuffers");
    next(display, drawable);
    if (record) {
        const double t = now();
        const std::uint64_t n = record->swaps;
        if (n < kSwapTimes) record->swapTimes[n] = t;
        record->swaps = n + 1;
        mark(kFirstSwap, t);
    }
    if (callgrind.frames) {
        static unsigned long swaps = 0;
        ++swaps;
        if (swaps == callgrind.warmUp) {
            CALLGRIND_ZERO_STATS;
        } else if (swaps > callgrind.warmUp && (swaps - callgrind.warmUp) % callgrind.frames == 0) {
            CALLGRIND_DUMP_STATS;
            if ((swaps - callgrind.warmUp) / callgrind.frames >= callgrind.dumps) _exit(0);
        }
    }
}

}  // extern "C"
