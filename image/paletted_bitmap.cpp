#include "paletted_bitmap.h"

#include <sys/types.h>
#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr std::size_t kFileHeaderSize = 14;
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

// The header fields the loader goes by, once the format's checks have passed.
struct Headers {
    std::uint32_t pixelOffset, infoSize;
    std::int32_t width, height;
    std::uint32_t coloursUsed;
};

// The format's checks on a file's first `size` bytes, in the order a reader
// meets the fields: fills `headers`, or says why the file is not of the
// loader's kind.
BitmapRefusal readHeaders(const std::uint8_t* head, std::size_t size, Headers* headers) {
    using R = BitmapRefusal;
    if (size >= 2 && (head[0] != 'B' || head[1] != 'M'))
        return {R::notABitmap, size >= 4 ? readU32(head) : readU16(head)};
    if (size < kFileHeaderSize + 4) return {R::endsInHeaders, static_cast<long long>(size)};
    const std::uint32_t infoSize = readU32(head + kFileHeaderSize);
    if (!isKnownInfoHeaderSize(infoSize)) return {R::unknownHeader, infoSize};
    if (size < kFileHeaderSize + infoSize) return {R::endsInHeaders, static_cast<long long>(size)};

    const std::uint8_t* info = head + kFileHeaderSize;
    const std::uint16_t bitsPerPixel = readU16(info + 14);
    const std::uint32_t compression = readU32(info + 16);
    if (bitsPerPixel != 8) return {R::notEightBits, bitsPerPixel};
    if (compression != 0) return {R::compressed, compression};
    *headers = {readU32(head + 10), infoSize, readS32(info + 4), readS32(info + 8), readU32(info + 32)};
    return {};
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

PixelBuffer readPalettedBitmap(std::FILE* file, int* widthOut, int* heightOut,
                               BitmapRefusal* why) {
    auto refuse = [why](BitmapRefusal::Kind kind, long long first = 0, long long second = 0) {
        if (why) *why = {kind, first, second};
        return nullptr;
    };
    std::uint8_t head[kBitmapHeadBytes];
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    Headers h;
    BitmapRefusal format = readHeaders(head, got, &h);
    // Headers cut short by a read error rather than by the file's end.
    if (format.kind == BitmapRefusal::endsInHeaders && std::ferror(file))
        format = {BitmapRefusal::cannotRead, errno};
    if (format.kind != BitmapRefusal::none) return refuse(format.kind, format.first);
    const std::int32_t width = h.width, height = h.height;

    // A negative height marks a top-down file; a negative width means nothing.
    if (width < 0) return refuse(BitmapRefusal::negativeWidth, width);
    const long long rowCount = height < 0 ? -static_cast<long long>(height) : height;
    if (width > kMaxBitmapSide || rowCount > kMaxBitmapSide)
        return refuse(BitmapRefusal::tooLarge, width, rowCount);
    const bool topDown = height < 0;
    const int rows = static_cast<int>(rowCount);

    const std::uint32_t paletteStart = kFileHeaderSize + h.infoSize;
    if (h.pixelOffset < paletteStart)
        return refuse(BitmapRefusal::pixelsInsideHeaders, h.pixelOffset, paletteStart);

    // Only the entries stored between the headers and the pixels count; the
    // others stay black, as does any entry a truncated file lacks.
    std::uint32_t stored = (h.pixelOffset - paletteStart) / 4;
    if (stored > kPaletteEntries) stored = kPaletteEntries;
    if (h.coloursUsed != 0 && h.coloursUsed < stored) stored = h.coloursUsed;
    std::uint8_t rawPalette[kPaletteEntries * 4];
    const bool atPalette = fseeko(file, static_cast<off_t>(paletteStart), SEEK_SET) == 0;
    const std::size_t paletteBytes = atPalette ? std::fread(rawPalette, 1, stored * 4, file) : 0;
    Palette palette = {};
    for (std::size_t k = 0; k < paletteBytes / 4; ++k) {
        palette[k][0] = rawPalette[4 * k + 2];
        palette[k][1] = rawPalette[4 * k + 1];
        palette[k][2] = rawPalette[4 * k];
    }

    const std::size_t rowPixels = static_cast<std::size_t>(width);
    const std::size_t outRowBytes = rowPixels * 3;
    PixelBuffer pixels(new (std::nothrow) std::uint8_t[outRowBytes * static_cast<std::size_t>(rows)]);
    if (!pixels) return refuse(BitmapRefusal::noMemory, width, rows);
    adviseHugePages(pixels.get(), outRowBytes * static_cast<std::size_t>(rows));

    // Rows are padded to a multiple of 4 bytes in the file.
    const std::size_t storedRowBytes = (rowPixels + 3) & ~std::size_t{3};
    std::unique_ptr<std::uint8_t[]> row(new (std::nothrow) std::uint8_t[storedRowBytes + 1]);
    if (!row) return refuse(BitmapRefusal::noMemory, width, rows);

    // An offset past the end of the file (or one the stream cannot reach)
    // simply leaves every pixel missing.
    bool atEnd = fseeko(file, static_cast<off_t>(h.pixelOffset), SEEK_SET) != 0;
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

PixelBuffer loadPalettedBitmap(const char* path, int* widthOut, int* heightOut,
                               BitmapRefusal* why) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) {
        if (why) *why = {BitmapRefusal::cannotOpen, errno, 0};
        return nullptr;
    }
    return readPalettedBitmap(file.get(), widthOut, heightOut, why);
}

bool isPalettedBitmap(const std::uint8_t* head, std::size_t size) {
    Headers headers;
    return readHeaders(head, size, &headers).kind == BitmapRefusal::none;
}

std::string describeRefusal(const BitmapRefusal& why) {
    using R = BitmapRefusal;
    const auto [first, second] = std::pair(why.first, why.second);
    const std::uint8_t lead[4] = {std::uint8_t(first), std::uint8_t(first >> 8),
                                  std::uint8_t(first >> 16), std::uint8_t(first >> 24)};
    auto text = [](const char* format, auto... values) {
        char line[160];
        std::snprintf(line, sizeof line, format, values...);
        return std::string(line);
    };
    switch (why.kind) {
        case R::cannotOpen: return "cannot open: " + std::string(std::strerror(int(first)));
        case R::cannotRead: return "cannot read: " + std::string(std::strerror(int(first)));
        case R::notABitmap:
            if (std::memcmp(lead, "\x89PNG", 4) == 0) return "not a Windows bitmap (it starts with the PNG signature)";
            if (std::memcmp(lead, "\xFF\xD8\xFF", 3) == 0) return "not a Windows bitmap (it starts with the JPEG signature)";
            if (std::memcmp(lead, "GIF8", 4) == 0) return "not a Windows bitmap (it starts with the GIF signature)";
            return "not a Windows bitmap (it does not start with \"BM\")";
        case R::endsInHeaders:
            return first == 0 ? "empty file" : text("ends after %lld bytes, inside its headers", first);
        case R::unknownHeader:
            return first == 12 || first == 64
                       ? text("an OS/2 bitmap (%lld-byte header); only Windows bitmaps are read", first)
                       : text("unknown header size %lld; only Windows bitmaps are read", first);
        case R::notEightBits:
            return text("%lld bits per pixel; only 8-bit paletted pictures are read", first);
        case R::compressed:
            return first <= 2 ? "run-length compressed; only uncompressed pictures are read"
                              : text("compressed (method %lld); only uncompressed pictures are read", first);
        case R::negativeWidth: return text("negative width %lld", first);
        case R::tooLarge:
            return text("%lld x %lld pixels; each side may be at most %d", first, second, kMaxBitmapSide);
        case R::pixelsInsideHeaders:
            return text("pixel data offset %lld lies inside the headers, which end at %lld", first, second);
        case R::noMemory: return text("not enough memory for %lld x %lld pixels", first, second);
        case R::none: break;
    }
    return "not refused";
}
