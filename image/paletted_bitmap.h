// Reads 8-bit paletted, uncompressed Windows bitmaps into RGB pixels.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

// Width x height RGB triples, bottom row first, no filler between rows.
// Null means "no picture".
using PixelBuffer = std::unique_ptr<std::uint8_t[]>;

// Largest width or height accepted. Anything above is refused before any
// allocation, so a tiny file cannot ask for gigabytes.
constexpr int kMaxBitmapSide = 16384;

// Loads the picture at `path`. On success stores its size and returns the
// pixels (non-null even when a side is 0). On failure returns null and leaves
// both out-parameters untouched.
PixelBuffer loadPalettedBitmap(const char* path, int* widthOut, int* heightOut);

// The same, from a stream positioned at the start of the file. The caller
// keeps ownership of `file`.
PixelBuffer readPalettedBitmap(std::FILE* file, int* widthOut, int* heightOut);
