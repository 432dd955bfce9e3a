#include "sample_pictures.h"

#include <algorithm>
#include <cmath>

namespace samples {

namespace {

constexpr double kTau = 6.283185307179586;

struct Rgb {
    double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Piecewise-linear gradient through evenly spaced stops, t in [0, 1].
template <std::size_t N>
Rgb gradient(const Rgb (&stops)[N], double t) {
    const double at = std::clamp(t, 0.0, 1.0) * (N - 1);
    const std::size_t i = std::min(static_cast<std::size_t>(at), N - 2);
    return mix(stops[i], stops[i + 1], at - static_cast<double>(i));
}

bmp::Colour toColour(Rgb c) {
    auto channel = [](double v) {
        return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
    };
    return {channel(c.r), channel(c.g), channel(c.b)};
}

// 4x4 ordered dither, so the gradients show no bands.
double dither(int x, int y) {
    static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    return (bayer[y & 3][x & 3] + 0.5) / 16.0 - 0.5;
}

// From the zenith down to the sun's core.
const Rgb kSky[] = {{0.10, 0.07, 0.30}, {0.32, 0.12, 0.45}, {0.75, 0.22, 0.42},
                    {0.98, 0.45, 0.25}, {1.00, 0.72, 0.30}, {1.00, 0.93, 0.70},
                    {1.00, 1.00, 0.95}};
// From deep water up to the brightest glints.
const Rgb kSea[] = {{0.03, 0.04, 0.16}, {0.12, 0.08, 0.28}, {0.45, 0.16, 0.35},
                    {0.92, 0.45, 0.25}, {1.00, 0.85, 0.55}};
const Rgb kHills = {0.16, 0.06, 0.22};

constexpr int kSkyLevels = 160;
constexpr int kSeaLevels = 95;
constexpr int kHillsIndex = kSkyLevels + kSeaLevels;

std::uint8_t level(double value, int levels, int first, int x, int y) {
    const int step = static_cast<int>(std::floor(value * (levels - 1) + 0.5 + dither(x, y)));
    return static_cast<std::uint8_t>(first + std::clamp(step, 0, levels - 1));
}

}  // namespace

bmp::PalettedImage sunset(int size) {
    bmp::PalettedImage image;
    image.width = image.height = size;
    for (int k = 0; k < kSkyLevels; ++k)
        image.palette.push_back(toColour(gradient(kSky, k / double(kSkyLevels - 1))));
    for (int k = 0; k < kSeaLevels; ++k)
        image.palette.push_back(toColour(gradient(kSea, k / double(kSeaLevels - 1))));
    image.palette.push_back(toColour(kHills));

    const double horizon = 0.32, sunX = 0.62, sunY = 0.45, sunRadius = 0.075;
    image.indices.resize(static_cast<std::size_t>(size) * size);
    for (int y = 0; y < size; ++y) {
        const double v = (y + 0.5) / size;  // 0 at the bottom row
        for (int x = 0; x < size; ++x) {
            const double u = (x + 0.5) / size;
            std::uint8_t index;
            // Low hills on the left, their tops a sum of gentle waves.
            const double hills = horizon + 0.035 + 0.03 * std::sin(u * 9.0 + 1.0) +
                                 0.02 * std::sin(u * 23.0) - 0.09 * u;
            if (v >= horizon && v < hills && u < 0.5) {
                index = kHillsIndex;
            } else if (v >= horizon) {
                // The sky brightens towards the horizon and glows around the sun.
                const double height = (v - horizon) / (1.0 - horizon);
                const double d = std::hypot(u - sunX, v - sunY) / sunRadius;
                const double sky = 0.62 * std::pow(1.0 - height, 1.6);
                const double glow = d <= 1.0 ? 1.0 : 0.83 * std::exp(-(d - 1.0) * 0.55);
                index = level(std::max(sky, glow), kSkyLevels, 0, x, y);
            } else {
                // The sea: darker with depth, a rippled column of sunlight.
                const double depth = (horizon - v) / horizon;
                const double sea = 0.55 * std::pow(1.0 - depth, 2.0);
                const double column = std::exp(-std::pow((u - sunX) / (0.05 + 0.12 * depth), 2));
                // Ripples crowd together towards the horizon, as in perspective.
                const double phase = 14.0 / (depth + 0.06) + 0.5 * std::sin(u * 90.0);
                const double ripple = std::pow(0.5 + 0.5 * std::sin(phase), 3.0);
                const double glint = column * ripple * (0.95 - 0.45 * depth);
                index = level(std::max(sea, glint), kSeaLevels, kSkyLevels, x, y);
            }
            image.indices[static_cast<std::size_t>(y) * size + x] = index;
        }
    }
    return image;
}

bmp::PalettedImage colorMap(int size) {
    constexpr int kHues = 32, kShades = 8;
    bmp::PalettedImage image;
    image.width = image.height = size;
    for (int hue = 0; hue < kHues; ++hue) {
        const double h = hue / double(kHues);
        const Rgb pure = {0.5 + 0.5 * std::cos(kTau * h), 0.5 + 0.5 * std::cos(kTau * (h - 1 / 3.0)),
                          0.5 + 0.5 * std::cos(kTau * (h - 2 / 3.0))};
        for (int shade = 0; shade < kShades; ++shade) {
            const double s = shade / double(kShades - 1);
            image.palette.push_back(toColour(mix(mix(pure, {0.08, 0.05, 0.15}, 0.7), pure, s)));
        }
    }

    // Every term is periodic over the picture, so it tiles without seams.
    image.indices.resize(static_cast<std::size_t>(size) * size);
    for (int y = 0; y < size; ++y) {
        const double v = y / double(size);
        for (int x = 0; x < size; ++x) {
            const double u = x / double(size);
            const double hue = u + 0.25 * std::sin(kTau * v);
            const double diamonds = std::fabs(std::sin(kTau * (2 * u + v))) *
                                    std::fabs(std::sin(kTau * (2 * u - v)));
            const double shade = 0.35 + 0.65 * std::sqrt(diamonds);
            const int hueIndex = static_cast<int>(std::floor((hue - std::floor(hue)) * kHues)) % kHues;
            const int shadeIndex = std::clamp(
                static_cast<int>(std::floor(shade * (kShades - 1) + 0.5 + dither(x, y))), 0,
                kShades - 1);
            image.indices[static_cast<std::size_t>(y) * size + x] =
                static_cast<std::uint8_t>(hueIndex * kShades + shadeIndex);
        }
    }
    return image;
}

}  // namespace samples
