// The loader asks for a picture's pixels with new (std::nothrow) and refuses
// a picture it cannot hold. Emscripten's C++ library, built without
// exceptions, aborts there instead of returning null; these forms return
// null, as malloc does in this build (ABORTING_MALLOC=0).
#include <cstdlib>
#include <new>

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}
