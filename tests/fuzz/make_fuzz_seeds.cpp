// Writes the fuzz target's seed corpus: small valid pictures in every layout
// the loader reads (each header size, palette sizes, row paddings, top-down,
// gaps before the pixels) and some cut short or of kinds it refuses, so the
// fuzzer starts from every branch of the format.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bmp_writer.h"

namespace {

bmp::PalettedImage picture(int width, int height, int colours) {
    bmp::PalettedImage image;
    image.width = width;
    image.height = height;
    for (int k = 0; k < colours; ++k) {
        image.palette.push_back({static_cast<std::uint8_t>(k * 37),
                                 static_cast<std::uint8_t>(k * 11),
                                 static_cast<std::uint8_t>(255 - k)});
    }
    for (int i = 0; i < width * height; ++i) {
        image.indices.push_back(static_cast<std::uint8_t>(colours ? (i * 7) % colours : 0));
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::error_code error;
    std::filesystem::create_directories(dir, error);

    int written = 0;
    bool ok = true;
    auto put = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
        ok = bmp::writeFile(dir + "/" + name + ".bmp", bytes) && ok;
        ++written;
    };

    // Header sizes, each with a short palette and a full one.
    for (std::uint32_t header : {40u, 52u, 56u, 108u, 124u}) {
        bmp::Layout layout;
        layout.infoHeaderSize = header;
        const std::string tag = "header" + std::to_string(header);
        put(tag + "-16", bmp::encode(picture(5, 3, 16), layout));
        put(tag + "-256", bmp::encode(picture(4, 2, 256), layout));
    }
    // Row paddings 3, 2, 1, 0 and a one-pixel picture.
    for (int width : {1, 5, 6, 7, 8}) {
        put("width" + std::to_string(width), bmp::encode(picture(width, 3, 4)));
    }
    // Palettes: none, one colour, two, colours-used smaller than stored.
    put("palette0", bmp::encode(picture(3, 2, 0)));
    put("palette1", bmp::encode(picture(3, 2, 1)));
    put("palette2", bmp::encode(picture(9, 4, 2)));
    {
        bmp::Layout layout;
        layout.coloursUsed = 3;
        put("colours-used-3-of-8", bmp::encode(picture(6, 3, 8), layout));
    }
    // Top-down, empty sides.
    {
        bmp::Layout layout;
        layout.topDown = true;
        put("top-down", bmp::encode(picture(7, 5, 16), layout));
        put("top-down-256", bmp::encode(picture(4, 4, 256), layout));
    }
    put("zero-width", bmp::encode(picture(0, 4, 2)));
    put("zero-height", bmp::encode(picture(4, 0, 2)));
    // Indices beyond the stored palette.
    {
        bmp::PalettedImage image = picture(8, 2, 4);
        for (std::size_t i = 0; i < image.indices.size(); ++i) {
            image.indices[i] = static_cast<std::uint8_t>(i * 33);
        }
        put("indices-beyond-palette", bmp::encode(image));
    }
    // A gap between palette and pixels, and pixels that start past the end.
    {
        bmp::Layout layout;
        layout.pixelOffset = 14 + 40 + 16 * 4 + 10;
        put("gap-before-pixels", bmp::encode(picture(5, 2, 16), layout));
    }
    {
        std::vector<std::uint8_t> bytes = bmp::encode(picture(5, 2, 16));
        bytes.resize(14 + 40 + 16 * 4);
        put("pixels-missing", bytes);
    }
    // Cut short at every boundary of a small file with a 16-entry palette.
    {
        const std::vector<std::uint8_t> whole = bmp::encode(picture(6, 4, 16));
        for (std::size_t cut : {0u, 1u, 2u, 13u, 14u, 17u, 18u, 30u, 53u, 54u, 58u, 117u, 118u,
                                121u, 126u}) {
            if (cut >= whole.size()) continue;
            put("cut-" + std::to_string(cut),
                std::vector<std::uint8_t>(whole.begin(), whole.begin() + long(cut)));
        }
    }
    // Kinds the loader refuses.
    for (std::uint16_t bits : {1, 4, 24}) {
        bmp::Layout layout;
        layout.bitsPerPixel = bits;
        put("bits" + std::to_string(bits), bmp::encode(picture(4, 2, 2), layout));
    }
    {
        bmp::Layout layout;
        layout.compression = 1;
        put("rle8", bmp::encode(picture(4, 2, 2), layout));
    }
    {
        // An OS/2 header size in an otherwise ordinary file.
        std::vector<std::uint8_t> bytes = bmp::encode(picture(4, 2, 2));
        bytes[14] = 12;
        put("header12", bytes);
    }

    if (!ok) {
        std::fprintf(stderr, "could not write every seed into %s\n", dir.c_str());
        return 1;
    }
    std::printf("%d seeds written to %s\n", written, dir.c_str());
    return 0;
}
