// Fuzz target for the picture loader: each input read as a real file and as
// an in-memory stream that cannot seek past its end. Both must agree; the
// sanitizers judge every access and allocation.
#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "paletted_bitmap.h"

namespace {

struct Result {
    PixelBuffer pixels;
    int width = -1, height = -1;
};

// A file the loader opens by name, rewritten for every input.
const char* scratchPath() {
    static char path[64];
    if (!path[0]) std::snprintf(path, sizeof path, "/proc/self/fd/%d", memfd_create("fuzz", 0));
    return path;
}

std::int64_t field(const std::uint8_t* p) {
    return std::int32_t(p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Big pictures take the same path as small ones, only slower.
    if (size >= 26 && std::abs(field(data + 18) * field(data + 22)) > (1 << 20)) return -1;
    std::FILE* file = std::fopen(scratchPath(), "wb");
    if (size) std::fwrite(data, 1, size, file);
    std::fclose(file);
    Result fromFile, fromMemory;
    fromFile.pixels = loadPalettedBitmap(scratchPath(), &fromFile.width, &fromFile.height);

    static std::uint8_t nothing[1];
    std::FILE* memory = fmemopen(size ? const_cast<std::uint8_t*>(data) : nothing, size ? size : 1, "rb");
    if (!size) std::fgetc(memory);
    fromMemory.pixels = readPalettedBitmap(memory, &fromMemory.width, &fromMemory.height);
    std::fclose(memory);

    const std::size_t bytes = fromFile.pixels ? std::size_t(fromFile.width) * fromFile.height * 3 : 0;
    if (bool(fromFile.pixels) != bool(fromMemory.pixels) || fromFile.width != fromMemory.width ||
        fromFile.height != fromMemory.height ||
        (bytes && std::memcmp(fromFile.pixels.get(), fromMemory.pixels.get(), bytes) != 0))
        std::abort();
    if (!fromFile.pixels && (fromFile.width != -1 || fromFile.height != -1)) std::abort();
    return 0;
}
