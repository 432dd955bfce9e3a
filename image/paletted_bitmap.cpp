#include "paletted_bitmap.h"

#include <sys/types.h>
#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

#include <climits>
#include <cstring>
#include <new>

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kLargestInfoHeader = 124;
constexpr int kPaletteEntries = 256;

std::uint32_t readU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::int32_t readS32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(readU32(p));
}

std::uint16_t readU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// The information header sizes written by common tools: BITMAPINFOHEADER and
// its V2, V3, V4 and V5 successors. OS/2 headers lay the fields out differently.
bool isKnownInfoHeaderSize(std::uint32_t size) {
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Palette entries as R, G, B plus one spare byte, so a pixel can be stored
// with one 4-byte copy.
using Palette = std::uint8_t[kPaletteEntries][4];

// Converts one row of indices. `count` indices are present; the rest of the
// row's `width` pixels are missing and take entry 255.
void expandRow(const std::uint8_t* indices, int count, int width, const Palette& palette,
               std::uint8_t* out) {
    int x = 0;
    // Every pixel but the row's last may spill one byte into the next pixel,
    // which that pixel then overwrites.
    const int wide = count < width ? count : width - 1;
    for (; x < wide; ++x, out += 3) std::memcpy(out, palette[indices[x]], 4);
    for (; x < width; ++x, out += 3) {
        const std::uint8_t index = x < count ? indices[x] : kPaletteEntries - 1;
        std::memcpy(out, palette[index], 3);
    }
}

// A large picture is mostly page faults when first written; asking for huge
// pages (a hint only) makes those far fewer.
void adviseHugePages(void* start, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    const auto begin = (reinterpret_cast<std::uintptr_t>(start) + kHuge - 1) & ~(kHuge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(start) + bytes) & ~(kHuge - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}

}  // namespace

PixelBuffer readPalettedBitmap(std::FILE* file, int* widthOut, int* heightOut) {
    std::uint8_t fileHeader[kFileHeaderSize];
    if (std::fread(fileHeader, 1, sizeof fileHeader, file) != sizeof fileHeader) return nullptr;
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') return nullptr;
    const std::uint32_t pixelOffset = readU32(fileHeader + 10);

    std::uint8_t info[kLargestInfoHeader];
    if (std::fread(info, 1, 4, file) != 4) return nullptr;
    const std::uint32_t infoSize = readU32(info);
    if (!isKnownInfoHeaderSize(infoSize)) return nullptr;
    if (std::fread(info + 4, 1, infoSize - 4, file) != infoSize - 4) return nullptr;

    const std::int32_t width = readS32(info + 4);
    const std::int32_t height = readS32(info + 8);
    const std::uint16_t bitsPerPixel = readU16(info + 14);
    const std::uint32_t compression = readU32(info + 16);
    const std::uint32_t coloursUsed = readU32(info + 32);

    if (bitsPerPixel != 8 || compression != 0) return nullptr;
    // A negative height marks a top-down file; a negative width means nothing.
    if (width < 0 || height == INT32_MIN) return nullptr;
    const bool topDown = height < 0;
    const int rows = topDown ? -height : height;
    if (width > kMaxBitmapSide || rows > kMaxBitmapSide) return nullptr;

    const std::uint32_t paletteStart = kFileHeaderSize + infoSize;
    if (pixelOffset < paletteStart) return nullptr;

    // Only the entries stored between the headers and the pixels count; the
    // others stay black, as does any entry a truncated file lacks.
    std::uint32_t stored = (pixelOffset - paletteStart) / 4;
    if (stored > kPaletteEntries) stored = kPaletteEntries;
    if (coloursUsed != 0 && coloursUsed < stored) stored = coloursUsed;
    std::uint8_t rawPalette[kPaletteEntries * 4];
    const std::size_t paletteBytes = std::fread(rawPalette, 1, stored * 4, file);
    Palette palette = {};
    for (std::size_t k = 0; k < paletteBytes / 4; ++k) {
        palette[k][0] = rawPalette[4 * k + 2];
        palette[k][1] = rawPalette[4 * k + 1];
        palette[k][2] = rawPalette[4 * k];
    }

    const std::size_t rowPixels = static_cast<std::size_t>(width);
    const std::size_t outRowBytes = rowPixels * 3;
    PixelBuffer pixels(new (std::nothrow) std::uint8_t[outRowBytes * static_cast<std::size_t>(rows)]);
    if (!pixels) return nullptr;
    adviseHugePages(pixels.get(), outRowBytes * static_cast<std::size_t>(rows));

    // Rows are padded to a multiple of 4 bytes in the file.
    const std::size_t storedRowBytes = (rowPixels + 3) & ~std::size_t{3};
    std::unique_ptr<std::uint8_t[]> row(new (std::nothrow) std::uint8_t[storedRowBytes + 1]);
    if (!row) return nullptr;

    // An offset past the end of the file (or one the stream cannot reach)
    // simply leaves every pixel missing.
    bool atEnd = fseeko(file, static_cast<off_t>(pixelOffset), SEEK_SET) != 0;
    for (int r = 0; r < rows; ++r) {
        std::size_t got = 0;
        if (!atEnd) {
            got = std::fread(row.get(), 1, storedRowBytes, file);
            atEnd = got < storedRowBytes;
        }
        const int present = got < rowPixels ? static_cast<int>(got) : width;
        const int outRow = topDown ? rows - 1 - r : r;
        expandRow(row.get(), present, width, palette,
                  pixels.get() + outRowBytes * static_cast<std::size_t>(outRow));
    }

    *widthOut = width;
    *heightOut = rows;
    return pixels;
}

PixelBuffer loadPalettedBitmap(const char* path, int* widthOut, int* heightOut) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) return nullptr;
    return readPalettedBitmap(file.get(), widthOut, heightOut);
}
