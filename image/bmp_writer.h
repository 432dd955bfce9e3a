// Writes 8-bit paletted, uncompressed bitmaps, the kind paletted_bitmap.h
// reads: the sample pictures and the page's converted pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bmp {

struct Colour {
    std::uint8_t r, g, b;
};

struct PalettedImage {
    int width = 0;
    int height = 0;                      // rows; never negative here
    std::vector<Colour> palette;         // at most 256 entries
    std::vector<std::uint8_t> indices;   // width x height, bottom row first
};

// The whole file: a 40-byte information header, the palette, then the rows,
// bottom first.
std::vector<std::uint8_t> encode(const PalettedImage& image);

// True when every byte reached the file.
bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace bmp
