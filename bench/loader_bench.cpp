// Decoding speed of the picture loader, on files written at start-up.
//
//   loader_bench [benchmark options]     Google Benchmark run
//   loader_bench --write-pictures DIR    write the pictures into DIR
//   loader_bench --decode FILE N [OUT]   decode FILE N times; print the
//                                        median, fastest and slowest in ns,
//                                        and write the RGB bytes to OUT
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bmp_writer.h"
#include "paletted_bitmap.h"
#include "sample_pictures.h"

namespace {

struct Picture {
    const char* name;
    bmp::PalettedImage (*make)();
};

// Every index equally likely and no runs, so no branch or cache pattern helps.
bmp::PalettedImage noise() {
    bmp::PalettedImage image{4096, 4096, {}, {}};
    for (int k = 0; k < 256; ++k) {
        image.palette.push_back({static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(255 - k),
                                 static_cast<std::uint8_t>(k * 7)});
    }
    image.indices.resize(std::size_t{4096} * 4096);
    std::uint32_t state = 0x9E3779B9u;
    for (auto& index : image.indices) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        index = static_cast<std::uint8_t>(state >> 24);
    }
    return image;
}

const Picture kPictures[] = {
    {"noise-4096.bmp", noise},
    {"sunset-512.bmp", [] { return samples::sunset(512); }},
    {"colormap-256.bmp", [] { return samples::colorMap(256); }},
};

bool writePictures(const std::filesystem::path& dir) {
    for (const Picture& picture : kPictures) {
        if (!bmp::writeFile((dir / picture.name).string(), bmp::encode(picture.make()))) {
            std::fprintf(stderr, "cannot write %s\n", (dir / picture.name).c_str());
            return false;
        }
    }
    return true;
}

void decodeFile(benchmark::State& state, const std::string& path) {
    int width = 0, height = 0;
    for (auto _ : state) {
        PixelBuffer pixels = loadPalettedBitmap(path.c_str(), &width, &height);
        if (!pixels) {
            state.SkipWithError("the loader refused the picture");
            break;
        }
        benchmark::DoNotOptimize(pixels.get());
        benchmark::ClobberMemory();
    }
    const auto pixelCount = static_cast<std::int64_t>(width) * height;
    state.SetItemsProcessed(state.iterations() * pixelCount);
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}

int decodeRepeatedly(const char* path, int times, const char* rgbOut) {
    std::vector<double> ns;
    PixelBuffer pixels;
    int width = 0, height = 0;
    for (int i = 0; i < times; ++i) {
        pixels.reset();
        const auto start = std::chrono::steady_clock::now();
        pixels = loadPalettedBitmap(path, &width, &height);
        const auto stop = std::chrono::steady_clock::now();
        if (!pixels) {
            std::fprintf(stderr, "the loader refused %s\n", path);
            return 1;
        }
        benchmark::DoNotOptimize(pixels.get());
        ns.push_back(std::chrono::duration<double, std::nano>(stop - start).count());
    }
    if (rgbOut) {
        const std::size_t bytes = std::size_t(width) * height * 3;
        if (!bmp::writeFile(rgbOut, std::vector<std::uint8_t>(pixels.get(), pixels.get() + bytes)))
            return 1;
    }
    std::sort(ns.begin(), ns.end());
    std::printf("%.0f %.0f %.0f\n", ns[ns.size() / 2], ns.front(), ns.back());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-pictures") == 0) {
        return writePictures(argv[2]) ? 0 : 1;
    }
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--decode") == 0) {
        const int times = std::atoi(argv[3]);
        return times > 0 ? decodeRepeatedly(argv[2], times, argc == 5 ? argv[4] : nullptr) : 2;
    }

    std::string pattern = (std::filesystem::temp_directory_path() / "loader-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path dir = pattern;
    int status = 1;
    if (writePictures(dir)) {
        for (const Picture& picture : kPictures) {
            benchmark::RegisterBenchmark(picture.name, decodeFile, (dir / picture.name).string())
                ->Unit(benchmark::kMillisecond);
        }
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        status = 0;
    }
    std::filesystem::remove_all(dir);
    return status;
}
