// The colour chooser by arithmetic, and its bitmap read back by the
// program's own loader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bmp_writer.h"
#include "paletted_bitmap.h"
#include "quantize.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Picture {
    int width, height, channels;
    Bytes pixels;  // top row first
    const std::uint8_t* at(int x, int y) const { return &pixels[(std::size_t(y) * width + x) * channels]; }
};

// A smooth, photo-like mix of gradients with a little grain.
Picture photoLike(int width, int height, int channels) {
    Picture p{width, height, channels, Bytes(std::size_t(width) * height * channels, 255)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height, grain = (x * 7 + y * 13) % 5;
            const double rgb[3] = {255 * u * (1 - v / 2), 200 * v + 220 * u * (1 - u), 250 - 240 * u * v * v};
            for (int c = 0; c < 3; ++c)
                p.pixels[(std::size_t(y) * width + x) * channels + c] =
                    std::uint8_t(std::min(255.0, rgb[c] + grain));
        }
    return p;
}

// `count` colours spread over the picture in a fixed scatter.
Picture fewColours(int count, int channels) {
    Picture p{37, 23, channels, Bytes(37 * 23 * channels, 7)};
    for (std::size_t i = 0; i < std::size_t(37 * 23); ++i) {
        const unsigned k = (i * 2654435761u) % count;
        for (int c = 0; c < 3; ++c) p.pixels[i * channels + c] = std::uint8_t(k * (c + 3) * 37 % 256 ^ k);
    }
    return p;
}

// The colour the result gives the picture's pixel (x, y).
bmp::Colour colourAt(const bmp::PalettedImage& image, int x, int y) {
    return image.palette.at(image.indices[std::size_t(image.height - 1 - y) * image.width + x]);
}

int distance(const std::uint8_t* a, bmp::Colour b) {
    return (a[0] - b.r) * (a[0] - b.r) + (a[1] - b.g) * (a[1] - b.g) + (a[2] - b.b) * (a[2] - b.b);
}

TEST(Quantize, PicturesOfAtMost256ColoursKeepExactlyTheirColours) {
    for (int count : {1, 2, 16, 255, 256}) {
        for (int channels : {3, 4}) {
            const Picture p = fewColours(count, channels);
            const bmp::PalettedImage image = quantize::toPaletted(p.pixels.data(), p.width, p.height, channels);
            std::set<std::vector<int>> distinct;
            for (const bmp::Colour& c : image.palette) distinct.insert({c.r, c.g, c.b});
            ASSERT_EQ(image.palette.size(), std::size_t(count)) << count;
            EXPECT_EQ(distinct.size(), std::size_t(count)) << count;
            for (int y = 0; y < p.height; ++y)
                for (int x = 0; x < p.width; ++x) ASSERT_EQ(distance(p.at(x, y), colourAt(image, x, y)), 0);
        }
    }
}

// Each pixel gets its nearest entry, exactly; the error stays within a PSNR
// that the box cuts alone miss on this picture (36.4 dB); and the
// same picture gives the same bitmap byte for byte.
TEST(Quantize, PhotoLikeGradientGets256ColoursEachPixelItsNearest) {
    const Picture p = photoLike(320, 200, 4);
    const bmp::PalettedImage image = quantize::toPaletted(p.pixels.data(), p.width, p.height, 4);
    ASSERT_EQ(image.palette.size(), 256u);
    double squared = 0;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const int own = distance(p.at(x, y), colourAt(image, x, y));
            int best = own;
            for (const bmp::Colour& c : image.palette) best = std::min(best, distance(p.at(x, y), c));
            ASSERT_EQ(own, best) << x << "," << y;
            squared += own;
        }
    const double psnr = 10 * std::log10(255.0 * 255 * 3 * p.width * p.height / squared);
    EXPECT_GE(psnr, 36.6);
    EXPECT_EQ(bmp::encode(image), bmp::encode(quantize::toPaletted(p.pixels.data(), p.width, p.height, 4)));
}

TEST(Quantize, ItsBitmapReadsBackThroughTheProgramsLoaderWithTheSamePixels) {
    for (const Picture& p : {photoLike(203, 101, 3), fewColours(16, 3)}) {
        const bmp::PalettedImage image = quantize::toPaletted(p.pixels.data(), p.width, p.height, 3);
        const std::string name = "orvane-quantize-" + std::to_string(std::random_device()()) + ".bmp";
        const std::string path = (std::filesystem::temp_directory_path() / name).string();
        ASSERT_TRUE(bmp::writeFile(path, bmp::encode(image)));
        int width = 0, height = 0;
        BitmapRefusal why;
        const PixelBuffer rgb = loadPalettedBitmap(path.c_str(), &width, &height, &why);
        std::remove(path.c_str());
        ASSERT_TRUE(rgb) << describeRefusal(why);
        ASSERT_EQ(width, p.width);
        ASSERT_EQ(height, p.height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* loaded = &rgb[(std::size_t(height - 1 - y) * width + x) * 3];
                const bmp::Colour c = colourAt(image, x, y);
                ASSERT_EQ(std::vector<int>(loaded, loaded + 3), (std::vector<int>{c.r, c.g, c.b}));
            }
    }
}

TEST(Quantize, PictureWithoutPixelsGivesNoColours) {
    const std::uint8_t pixel[3] = {1, 2, 3};
    for (const auto& [w, h] : {std::pair{0, 5}, {5, 0}, {-1, 1}}) {
        const bmp::PalettedImage image = quantize::toPaletted(pixel, w, h, 3);
        EXPECT_TRUE(image.palette.empty() && image.indices.empty() && image.width == 0);
    }
}

}  // namespace
