// Fuzz target for the picture loader. Every input is decoded twice, as a real
// file (through loadPalettedBitmap) and as an in-memory stream that cannot
// seek past its end (through readPalettedBitmap), and both results are
// compared with a plain byte-by-byte decoder written from the format's rules.
// Any difference, any out-parameter written on failure, or any access outside
// the result (AddressSanitizer) is a crash.
#include <sanitizer/allocator_interface.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "paletted_bitmap.h"

namespace {

// Pictures larger than this are not decoded here: they take the same path as
// smaller ones, only slower, and would starve the fuzzer. The refusal of
// sides above kMaxBitmapSide is still fuzzed (it happens before allocation).
constexpr std::uint64_t kLargestFuzzedPixelCount = std::uint64_t{1} << 20;

constexpr int kUntouched = -0x5EED;

std::uint32_t u32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

void fail(const char* what) {
    std::fprintf(stderr, "bitmap_fuzz: %s\n", what);
    std::abort();
}

struct Decoded {
    bool ok = false;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

// The reference: every field and every pixel looked up by its position in the
// file, nothing buffered, nothing clever.
Decoded decodeReference(const std::uint8_t* data, std::size_t size) {
    Decoded d;
    auto has = [&](std::uint64_t offset, std::uint64_t length) {
        return offset + length <= size;
    };
    if (!has(0, 14) || data[0] != 'B' || data[1] != 'M') return d;
    const std::uint32_t pixelOffset = u32(data + 10);
    if (!has(14, 4)) return d;
    const std::uint32_t infoSize = u32(data + 14);
    if (infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 && infoSize != 124)
        return d;
    if (!has(14, infoSize)) return d;
    const std::int32_t width = static_cast<std::int32_t>(u32(data + 18));
    const std::int32_t height = static_cast<std::int32_t>(u32(data + 22));
    const unsigned bits = data[28] | data[29] << 8;
    const std::uint32_t compression = u32(data + 30);
    const std::uint32_t coloursUsed = u32(data + 46);
    if (bits != 8 || compression != 0) return d;
    if (width < 0 || height == INT32_MIN) return d;
    const std::int64_t rows = height < 0 ? -std::int64_t{height} : height;
    if (width > kMaxBitmapSide || rows > kMaxBitmapSide) return d;
    const std::uint64_t paletteStart = 14 + std::uint64_t{infoSize};
    if (pixelOffset < paletteStart) return d;

    std::uint64_t stored = (pixelOffset - paletteStart) / 4;
    if (stored > 256) stored = 256;
    if (coloursUsed != 0 && coloursUsed < stored) stored = coloursUsed;
    std::uint8_t palette[256][3] = {};
    for (std::uint64_t k = 0; k < stored && has(paletteStart + 4 * k, 4); ++k) {
        const std::uint8_t* entry = data + paletteStart + 4 * k;
        palette[k][0] = entry[2];
        palette[k][1] = entry[1];
        palette[k][2] = entry[0];
    }

    const std::uint64_t stride = (std::uint64_t(width) + 3) / 4 * 4;
    d.ok = true;
    d.width = width;
    d.height = static_cast<int>(rows);
    d.rgb.resize(std::size_t(width) * std::size_t(rows) * 3);
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::int64_t outRow = height < 0 ? rows - 1 - r : r;
        for (std::int64_t x = 0; x < width; ++x) {
            const std::uint64_t at = pixelOffset + std::uint64_t(r) * stride + std::uint64_t(x);
            const std::uint8_t index = at < size ? data[at] : 255;
            std::memcpy(&d.rgb[std::size_t((outRow * width + x) * 3)], palette[index], 3);
        }
    }
    return d;
}

// The pixel count the header asks for, when the loader would accept the sides.
std::uint64_t acceptedPixelCount(const std::uint8_t* data, std::size_t size) {
    if (size < 26) return 0;
    const std::int64_t width = static_cast<std::int32_t>(u32(data + 18));
    std::int64_t rows = static_cast<std::int32_t>(u32(data + 22));
    if (rows < 0) rows = -rows;
    if (width < 0 || width > kMaxBitmapSide || rows > kMaxBitmapSide) return 0;
    return std::uint64_t(width) * std::uint64_t(rows);
}

void check(const char* how, const PixelBuffer& pixels, int width, int height,
           const Decoded& expected) {
    if (!pixels) {
        if (width != kUntouched || height != kUntouched) fail("out-parameter written on failure");
        if (expected.ok) fail(how);
        return;
    }
    if (!expected.ok) fail(how);
    if (width != expected.width || height != expected.height) fail("wrong size stored");
    // operator new turns a request for 0 bytes into 1.
    const std::size_t allocated = __sanitizer_get_allocated_size(pixels.get());
    if (allocated != expected.rgb.size() && !(expected.rgb.empty() && allocated == 1))
        fail("result allocated with a size other than width x height x 3");
    // Reads every byte of the result: a buffer shorter than the stored size
    // shows up as a heap overflow here.
    if (!expected.rgb.empty() &&
        std::memcmp(pixels.get(), expected.rgb.data(), expected.rgb.size()) != 0)
        fail("pixels differ from the byte-by-byte decoding");
}

// A real file the loader opens by name, rewritten for every input.
const char* scratchFile() {
    static char path[64];
    if (!path[0]) {
        const int fd = memfd_create("bitmap_fuzz", 0);
        if (fd < 0) fail("memfd_create failed");
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    }
    return path;
}

void rewrite(const char* path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path, "wb");  // truncates
    if (!file) fail("cannot rewrite the scratch file");
    if (size && std::fwrite(data, 1, size, file) != size) fail("short write");
    std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (acceptedPixelCount(data, size) > kLargestFuzzedPixelCount) return -1;
    const Decoded expected = decodeReference(data, size);

    const char* path = scratchFile();
    rewrite(path, data, size);
    int width = kUntouched, height = kUntouched;
    PixelBuffer fromFile = loadPalettedBitmap(path, &width, &height);
    check("file: accepted or refused unlike the byte-by-byte decoding", fromFile, width, height,
          expected);

    // fmemopen wants a non-empty buffer; an empty input is a file of 0 bytes.
    static const std::uint8_t kNothing[1] = {};
    std::FILE* memory = size ? fmemopen(const_cast<std::uint8_t*>(data), size, "rb")
                             : fmemopen(const_cast<std::uint8_t*>(kNothing), 1, "rb");
    if (!memory) fail("fmemopen failed");
    if (!size) std::fgetc(memory);
    width = height = kUntouched;
    PixelBuffer fromMemory = readPalettedBitmap(memory, &width, &height);
    std::fclose(memory);
    check("stream: accepted or refused unlike the byte-by-byte decoding", fromMemory, width,
          height, expected);
    return 0;
}
