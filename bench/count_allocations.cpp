// Counts every call that takes memory from the WebAssembly heap, for the
// benchmarks' allocations per frame; the page's frame reads the count as
// orvaneAllocations(). Linked only into the benchmarks' build of the program.
// Emscripten's malloc family is weak, so these take their place and hand on
// to the allocator under its other names.
#include <emscripten/em_asm.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

extern "C" {
void* emscripten_builtin_malloc(std::size_t size);
void* emscripten_builtin_memalign(std::size_t alignment, std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* old, std::size_t size);
}

namespace {

std::uint32_t allocations = 0;

// HEAPU32 is looked up at each call, so a grown heap is read right.
struct Publish {
    Publish() { EM_ASM({ globalThis.orvaneAllocations = function() { return HEAPU32[$0 >> 2]; }; }, &allocations); }
} publish;

}  // namespace

extern "C" {

void* malloc(std::size_t size) {
    ++allocations;
    return emscripten_builtin_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
    ++allocations;
    return __libc_calloc(count, size);
}

void* realloc(void* old, std::size_t size) {
    ++allocations;
    return __libc_realloc(old, size);
}

void* memalign(std::size_t alignment, std::size_t size) {
    ++allocations;
    return emscripten_builtin_memalign(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    if (alignment == 0 || alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* p = memalign(alignment, size);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}

}  // extern "C"
