#include "bmp_writer.h"

#include <cstdio>

namespace bmp {

namespace {

void putU16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    putU16(out, at, value & 0xFFFF);
    putU16(out, at + 2, value >> 16);
}

}  // namespace

std::vector<std::uint8_t> encode(const PalettedImage& image) {
    constexpr std::size_t paletteStart = 14 + 40;
    const std::size_t pixelOffset = paletteStart + 4 * image.palette.size();
    const std::size_t rowBytes = (static_cast<std::size_t>(image.width) + 3) & ~std::size_t{3};
    const std::size_t pixelBytes = rowBytes * static_cast<std::size_t>(image.height);

    std::vector<std::uint8_t> out(pixelOffset + pixelBytes);
    out[0] = 'B';
    out[1] = 'M';
    putU32(out, 2, static_cast<std::uint32_t>(out.size()));
    putU32(out, 10, static_cast<std::uint32_t>(pixelOffset));

    putU32(out, 14, 40);
    putU32(out, 18, static_cast<std::uint32_t>(image.width));
    putU32(out, 22, static_cast<std::uint32_t>(image.height));
    putU16(out, 26, 1);
    putU16(out, 28, 8);
    putU32(out, 30, 0);  // no compression
    putU32(out, 34, static_cast<std::uint32_t>(pixelBytes));
    putU32(out, 38, 2835);  // 72 dpi
    putU32(out, 42, 2835);
    const std::uint32_t coloursUsed = image.palette.size() < 256 ? image.palette.size() : 0;
    putU32(out, 46, coloursUsed);

    for (std::size_t k = 0; k < image.palette.size(); ++k) {
        out[paletteStart + 4 * k] = image.palette[k].b;
        out[paletteStart + 4 * k + 1] = image.palette[k].g;
        out[paletteStart + 4 * k + 2] = image.palette[k].r;
    }

    for (int row = 0; row < image.height; ++row) {
        const std::size_t at = pixelOffset + rowBytes * static_cast<std::size_t>(row);
        for (int x = 0; x < image.width; ++x) {
            out[at + static_cast<std::size_t>(x)] =
                image.indices[static_cast<std::size_t>(row) * image.width + x];
        }
    }
    return out;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    // An empty vector may have no storage at all, which fwrite must not see.
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace bmp
