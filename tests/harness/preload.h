// What the preloaded probes share (probe.cpp here, bench/bench_probe.cpp): the
// log that ORVANE_PROBE_LOG names, the clock of its lines, and the function a
// wrapper passes each call on to.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

namespace {

// The log, opened for appending; -1 without ORVANE_PROBE_LOG.
inline int openProbeLog() {
    const char* path = std::getenv("ORVANE_PROBE_LOG");
    return path ? open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
}

// CLOCK_MONOTONIC seconds: the rate counter's clock, and Python's time.monotonic().
inline double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// The definition `name` would have without the probe.
template <typename F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace
