// Reads 8-bit paletted, uncompressed Windows bitmaps into RGB pixels.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// Width x height RGB triples, bottom row first, no filler between rows.
// Null means "no picture".
using PixelBuffer = std::unique_ptr<std::uint8_t[]>;

// Largest width or height accepted. Anything above is refused before any
// allocation, so a tiny file cannot ask for gigabytes.
constexpr int kMaxBitmapSide = 16384;

// Why a picture was refused, with the values the reason names.
struct BitmapRefusal {
    enum Kind {
        none,
        cannotOpen,           // first: errno
        cannotRead,           // first: errno
        notABitmap,           // first: its first four bytes, little-endian
        endsInHeaders,        // first: the bytes there were
        unknownHeader,        // first: the information header's size
        notEightBits,         // first: bits per pixel
        compressed,           // first: the compression method
        negativeWidth,        // first: the width
        tooLarge,             // first, second: width and rows
        pixelsInsideHeaders,  // first: the pixel data offset; second: where the headers end
        noMemory,             // first, second: width and rows
    } kind = none;
    long long first = 0, second = 0;
};

// Loads the picture at `path`. On success stores its size and returns the
// pixels (non-null even when a side is 0). On failure returns null, leaves
// both out-parameters untouched and, given `why`, says why there.
PixelBuffer loadPalettedBitmap(const char* path, int* widthOut, int* heightOut,
                               BitmapRefusal* why = nullptr);

// The same, from a stream positioned at the start of the file. The caller
// keeps ownership of `file`.
PixelBuffer readPalettedBitmap(std::FILE* file, int* widthOut, int* heightOut,
                               BitmapRefusal* why = nullptr);

// The most of a file's first bytes that isPalettedBitmap looks at: the file
// header and the largest information header.
constexpr std::size_t kBitmapHeadBytes = 14 + 124;

// True when a file that begins with these `size` bytes (all it has, up to
// kBitmapHeadBytes) is of the kind the loader reads: "BM", a Windows
// information header, 8 bits per pixel, no compression. Its sizes and its
// pixel data offset are left to the loader to judge.
bool isPalettedBitmap(const std::uint8_t* head, std::size_t size);

// The reason in plain words, e.g. "24 bits per pixel; only 8-bit paletted
// pictures are read".
std::string describeRefusal(const BitmapRefusal& why);
