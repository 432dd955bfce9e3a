// Writes 8-bit paletted bitmaps: the sample pictures, and the test fixtures,
// whose layout knobs reach every corner of the format.
#pragma once

#include <cstdint>
#include <optional>
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

// How the file is laid out. The defaults make an ordinary file.
struct Layout {
    std::uint32_t infoHeaderSize = 40;
    std::uint16_t bitsPerPixel = 8;
    std::uint32_t compression = 0;
    std::optional<std::uint32_t> coloursUsed;  // default: palette size, or 0 for 256
    std::optional<std::uint32_t> pixelOffset;  // default: right after the palette
    bool topDown = false;                      // negative height, top row first
};

std::vector<std::uint8_t> encode(const PalettedImage& image, const Layout& layout = {});

// The file format's little-endian fields.
void putU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value);
std::uint32_t getU32(const std::vector<std::uint8_t>& bytes, std::size_t at);

// True when every byte reached the file.
bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace bmp
