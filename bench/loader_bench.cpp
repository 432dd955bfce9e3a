// Decoding speed of the picture loader.
//
//   loader_bench DIR [benchmark options]
//
// Writes a 4096 x 4096 noise picture and the two sample pictures into DIR,
// then times loadPalettedBitmap on each file (bench/run sets them beside
// Pillow on the same files).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "bmp_writer.h"
#include "paletted_bitmap.h"
#include "sample_pictures.h"

namespace {

// Every index equally likely and no runs, so no branch or cache pattern helps.
bmp::PalettedImage noise() {
    bmp::PalettedImage image{4096, 4096, {}, std::vector<std::uint8_t>(4096 * 4096)};
    for (int k = 0; k < 256; ++k)
        image.palette.push_back({std::uint8_t(k), std::uint8_t(255 - k), std::uint8_t(k * 7)});
    std::uint32_t state = 0x9E3779B9u;
    for (auto& index : image.indices) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        index = std::uint8_t(state >> 24);
    }
    return image;
}

void decode(benchmark::State& state, std::string path) {
    int width = 0, height = 0;
    for (auto _ : state) benchmark::DoNotOptimize(loadPalettedBitmap(path.c_str(), &width, &height));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string dir = argv[1];
    const std::pair<const char*, bmp::PalettedImage> pictures[] = {
        {"noise-4096.bmp", noise()},
        {"sunset-512.bmp", samples::sunset(512)},
        {"colormap-256.bmp", samples::colorMap(256)}};
    for (const auto& [name, image] : pictures) {
        if (!bmp::writeFile(dir + "/" + name, bmp::encode(image))) return 1;
        benchmark::RegisterBenchmark(name, decode, dir + "/" + name)->Unit(benchmark::kMillisecond);
    }
    argv[1] = argv[0];
    int rest = argc - 1;
    benchmark::Initialize(&rest, argv + 1);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
