// The paletted bitmap loader, on files written here with the fixture writer.
#include <gtest/gtest.h>

#include <ostream>
#include <stdlib.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "bmp_writer.h"
#include "paletted_bitmap.h"

// Allocation bookkeeping, so the tests can see what the loader asks for,
// whether it gives everything back and whether it writes past a block's end
// (each block carries a guard). Array and nothrow forms end up here too.
// Kept out of line: inlined, the compiler takes malloc/free for a mismatch.
namespace {
constexpr std::size_t kHead = alignof(std::max_align_t), kGuard = 8;
constexpr unsigned char kGuardByte = 0xA5;
std::size_t largestRequest = 0;
long liveBlocks = 0;
long overruns = 0;
}  // namespace

__attribute__((noinline)) void* operator new(std::size_t size) {
    largestRequest = std::max(largestRequest, size);
    if (size > SIZE_MAX - kHead - kGuard) throw std::bad_alloc();
    auto* base = static_cast<unsigned char*>(std::malloc(kHead + size + kGuard));
    if (!base) throw std::bad_alloc();
    std::memcpy(base, &size, sizeof size);
    std::memset(base + kHead + size, kGuardByte, kGuard);
    ++liveBlocks;
    return base + kHead;
}
__attribute__((noinline)) void operator delete(void* block) noexcept {
    if (!block) return;
    auto* base = static_cast<unsigned char*>(block) - kHead;
    std::size_t size;
    std::memcpy(&size, base, sizeof size);
    if (std::count(base + kHead + size, base + kHead + size + kGuard, kGuardByte) != kGuard)
        ++overruns;
    --liveBlocks;
    std::free(base);
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr int kUntouchedWidth = -111;
constexpr int kUntouchedHeight = -222;
constexpr std::uint32_t kSupportedHeaders[] = {40, 52, 56, 108, 124};

void putU32(Bytes& file, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t u32(const Bytes& file, std::size_t at) {
    return file[at] | file[at + 1] << 8 | file[at + 2] << 16 | std::uint32_t(file[at + 3]) << 24;
}

std::size_t stride(int width) { return (static_cast<std::size_t>(width) + 3) & ~std::size_t{3}; }

// A picture with `paletteSize` distinct, non-black colours and indices drawn
// from 0 .. indexLimit - 1 (which may point past the palette on purpose).
bmp::PalettedImage makeImage(int width, int height, int paletteSize, int indexLimit,
                             unsigned seed) {
    std::mt19937 rng(seed);
    bmp::PalettedImage image{width, height, {}, {}};
    for (int k = 0; k < paletteSize; ++k) {
        image.palette.push_back({static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(rng() | 1),
                                 static_cast<std::uint8_t>(255 - k)});
    }
    image.indices.resize(static_cast<std::size_t>(width) * height);
    for (auto& index : image.indices) index = static_cast<std::uint8_t>(rng() % indexLimit);
    return image;
}

// The RGB bytes `image` should decode to when only its first `stored` palette
// entries reach the loader.
Bytes expectedPixels(const bmp::PalettedImage& image, std::size_t stored) {
    Bytes rgb;
    for (std::uint8_t index : image.indices) {
        const bool known = index < stored && index < image.palette.size();
        const bmp::Colour c = known ? image.palette[index] : bmp::Colour{0, 0, 0};
        rgb.insert(rgb.end(), {c.r, c.g, c.b});
    }
    return rgb;
}

// Overwrites the bytes between the written palette and the pixels, and the
// row filler, so that reading either as something else shows.
void scribble(Bytes& file, const bmp::PalettedImage& image, std::uint32_t headerSize,
              std::uint8_t junk) {
    const std::size_t offset = u32(file, 10);
    for (std::size_t at = 14 + headerSize + 4 * image.palette.size(); at < offset; ++at)
        file[at] = junk;
    for (int row = 0; row < image.height; ++row) {
        for (std::size_t x = image.width; x < stride(image.width); ++x)
            file[offset + row * stride(image.width) + x] = junk;
    }
}

::testing::AssertionResult samePixels(const PixelBuffer& actual, const Bytes& expected, int width) {
    if (!actual) return ::testing::AssertionFailure() << "no pixels";
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (actual[i] != expected[i]) {
            const std::size_t pixel = i / 3;
            return ::testing::AssertionFailure()
                   << "pixel (" << pixel % width << ", " << pixel / width << ") channel " << i % 3
                   << ": " << int(actual[i]) << " instead of " << int(expected[i]);
        }
    }
    return ::testing::AssertionSuccess();
}

long openDescriptors() {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

// An independent decoder that looks at one byte at a time, where the loader
// reads whole rows.
struct Decoded {
    bool ok = false;
    int width = 0, height = 0;
    Bytes rgb;
};

Decoded referenceDecode(const Bytes& file) {
    auto at = [&](std::size_t i) -> int { return i < file.size() ? file[i] : -1; };
    Decoded d;
    if (file.size() < 18 || file[0] != 'B' || file[1] != 'M') return d;
    const std::uint32_t header = u32(file, 14);
    if (std::find(std::begin(kSupportedHeaders), std::end(kSupportedHeaders), header) ==
            std::end(kSupportedHeaders) ||
        file.size() < 14 + header)
        return d;
    const auto width = static_cast<std::int32_t>(u32(file, 18));
    const auto height = static_cast<std::int32_t>(u32(file, 22));
    if ((file[28] | file[29] << 8) != 8 || u32(file, 30) != 0) return d;
    if (width < 0 || height == INT32_MIN) return d;
    const int rows = height < 0 ? -height : height;
    if (width > kMaxBitmapSide || rows > kMaxBitmapSide) return d;
    const std::size_t paletteStart = 14 + header, offset = u32(file, 10);
    if (offset < paletteStart) return d;

    std::size_t stored = std::min<std::size_t>((offset - paletteStart) / 4, 256);
    if (u32(file, 46) != 0) stored = std::min<std::size_t>(stored, u32(file, 46));
    std::uint8_t palette[256][3] = {};
    for (std::size_t k = 0; k < stored && paletteStart + 4 * k + 3 < file.size(); ++k) {
        for (int c = 0; c < 3; ++c) palette[k][c] = file[paletteStart + 4 * k + 2 - c];
    }
    d = {true, width, rows, {}};
    d.rgb.resize(std::size_t(width) * rows * 3);
    for (int r = 0; r < rows; ++r) {
        const int outRow = height < 0 ? rows - 1 - r : r;
        for (int x = 0; x < width; ++x) {
            const int index = at(offset + r * stride(width) + x);
            for (int c = 0; c < 3; ++c)
                d.rgb[(std::size_t(outRow) * width + x) * 3 + c] =
                    palette[index < 0 ? 255 : index][c];
        }
    }
    return d;
}

class BitmapLoader : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::path(::testing::TempDir()) / "orvane-bmp-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        fs::remove_all(dir_);
        EXPECT_EQ(overruns, 0) << "a block was written past its end";
        overruns = 0;
    }

    std::string write(const Bytes& file) {
        const std::string path = (dir_ / ("p" + std::to_string(files_++) + ".bmp")).string();
        EXPECT_TRUE(bmp::writeFile(path, file));
        return path;
    }

    struct Loaded {
        PixelBuffer pixels;
        int width = kUntouchedWidth, height = kUntouchedHeight;
    };
    Loaded load(const Bytes& file) { return loadPath(write(file)); }
    Loaded loadPath(const std::string& path) {
        Loaded out;
        out.pixels = loadPalettedBitmap(path.c_str(), &out.width, &out.height);
        return out;
    }

    // Null, sizes untouched, and nothing left behind: no memory, no descriptor.
    // The files refused here are small, so refusing them takes no big block.
    void expectRefused(const std::string& path) {
        const long blocks = liveBlocks, descriptors = openDescriptors();
        largestRequest = 0;
        Loaded out = loadPath(path);
        EXPECT_LT(largestRequest, 1u << 16) << "refused only after asking for memory";
        EXPECT_FALSE(out.pixels);
        out.pixels.reset();
        EXPECT_EQ(liveBlocks, blocks);
        EXPECT_EQ(openDescriptors(), descriptors);
        EXPECT_EQ(out.width, kUntouchedWidth);
        EXPECT_EQ(out.height, kUntouchedHeight);
    }
    void expectRefused(const Bytes& file) { expectRefused(write(file)); }

    void expectDecodes(const Bytes& file, const bmp::PalettedImage& image, std::size_t stored) {
        const Loaded out = load(file);
        ASSERT_TRUE(out.pixels);
        EXPECT_EQ(out.width, image.width);
        EXPECT_EQ(out.height, image.height);
        EXPECT_TRUE(samePixels(out.pixels, expectedPixels(image, stored), image.width));
    }

    fs::path dir_;
    int files_ = 0;
};

// --- Headers ---------------------------------------------------------------

class InfoHeaderSize : public BitmapLoader, public ::testing::WithParamInterface<std::uint32_t> {};

// Known sizes put the palette right after the header, wherever that ends;
// OS/2 and odd sizes are refused.
TEST_P(InfoHeaderSize, PlacesThePaletteOrIsRefused) {
    const auto image = makeImage(7, 5, 16, 16, 1);
    bmp::Layout layout;
    layout.infoHeaderSize = GetParam();
    const Bytes file = bmp::encode(image, layout);
    if (std::count(std::begin(kSupportedHeaders), std::end(kSupportedHeaders), GetParam()))
        expectDecodes(file, image, 16);
    else
        expectRefused(file);
}
INSTANTIATE_TEST_SUITE_P(BitmapLoader, InfoHeaderSize,
                         ::testing::Values(40u, 52u, 56u, 108u, 124u, 0u, 4u, 12u, 39u, 41u, 64u,
                                           100u, 125u, 0xFFFFFFFFu));

TEST_F(BitmapLoader, RefusesWhatIsNotAnEightBitUncompressedBitmap) {
    const auto image = makeImage(8, 4, 16, 16, 3);
    for (std::uint16_t bits : {1, 4, 16, 24, 32}) {
        bmp::Layout layout;
        layout.bitsPerPixel = bits;
        expectRefused(bmp::encode(image, layout));
    }
    for (std::uint32_t compression : {1u, 2u, 3u, 4u}) {  // RLE8, RLE4, bit fields, JPEG
        bmp::Layout layout;
        layout.compression = compression;
        expectRefused(bmp::encode(image, layout));
    }
    for (const char* magic : {"BA", "MB", "bm", "\0\0"}) {
        Bytes file = bmp::encode(image);
        std::copy(magic, magic + 2, file.begin());
        expectRefused(file);
    }
    expectRefused((dir_ / "absent.bmp").string());
    expectRefused(dir_.string());  // opens, but cannot be read
}

TEST_F(BitmapLoader, RefusesFilesEndingInsideTheHeaders) {
    for (std::uint32_t header : {40u, 124u}) {
        bmp::Layout layout;
        layout.infoHeaderSize = header;
        const Bytes whole = bmp::encode(makeImage(4, 4, 16, 16, 4), layout);
        for (int size : {0, 1, 13, 14, 17, 30, 13 + int(header)})
            expectRefused(Bytes(whole.begin(), whole.begin() + size));
    }
}

// --- Palette ---------------------------------------------------------------

struct PaletteCase {
    const char* name;
    int written;         // entries the writer puts after the header
    std::size_t offset;  // pixel data offset minus the palette start
    std::optional<std::uint32_t> coloursUsed;
    std::size_t stored;  // entries that should count
};

// Keeps test names readable and the same from build to build.
void PrintTo(const PaletteCase& c, std::ostream* out) { *out << c.name; }

class PaletteEntries : public BitmapLoader, public ::testing::WithParamInterface<PaletteCase> {};

// Indices run over all 256 values, so any entry the file does not store shows
// as black, and junk between palette and pixels never turns into colours.
TEST_P(PaletteEntries, AreBoundedByOffsetCountAndColoursUsed) {
    const PaletteCase& c = GetParam();
    const auto image = makeImage(9, 7, c.written, 256, 5);
    bmp::Layout layout;
    layout.pixelOffset = 54 + c.offset;
    layout.coloursUsed = c.coloursUsed;
    Bytes file = bmp::encode(image, layout);
    scribble(file, image, 40, 0x5A);
    expectDecodes(file, image, c.stored);
}
INSTANTIATE_TEST_SUITE_P(
    BitmapLoader, PaletteEntries,
    ::testing::Values(PaletteCase{"FullPalette", 256, 1024, std::nullopt, 256},
                      PaletteCase{"ShortPalette", 16, 64, std::nullopt, 16},
                      PaletteCase{"OffsetCutsPalette", 16, 40, 0u, 10},
                      PaletteCase{"OffsetNotWholeEntries", 16, 64 + 3, std::nullopt, 16},
                      PaletteCase{"ColoursUsedCutsPalette", 16, 64, 8u, 8},
                      PaletteCase{"ColoursUsedAbove256", 256, 1024, 1000u, 256},
                      PaletteCase{"GapAfterPalette", 256, 1200, 0u, 256},
                      PaletteCase{"NoRoomAtAll", 16, 0, std::nullopt, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BitmapLoader, TurnsBlueGreenRedReservedIntoRedGreenBlue) {
    bmp::PalettedImage image{2, 1, {{0, 0, 0}, {0x30, 0x20, 0x10}}, {1, 1}};
    const Bytes file = bmp::encode(image);
    ASSERT_EQ(Bytes(file.begin() + 58, file.begin() + 62), (Bytes{0x10, 0x20, 0x30, 0}));
    const Loaded out = load(file);
    ASSERT_TRUE(out.pixels);
    EXPECT_EQ(Bytes(out.pixels.get(), out.pixels.get() + 6),
              (Bytes{0x30, 0x20, 0x10, 0x30, 0x20, 0x10}));
}

// --- Pixel rows ------------------------------------------------------------

class RowPadding : public BitmapLoader, public ::testing::WithParamInterface<int> {};

TEST_P(RowPadding, IsSkippedAfterEachRow) {
    const auto image = makeImage(GetParam(), 6, 256, 256, 6);
    Bytes file = bmp::encode(image);
    ASSERT_EQ(file.size(), 1078 + 6 * stride(GetParam()));
    scribble(file, image, 40, 0xFF);
    expectDecodes(file, image, 256);
}
INSTANTIATE_TEST_SUITE_P(BitmapLoader, RowPadding, ::testing::Values(5, 6, 7, 8));

// A short palette, so the pixels start well before offset 1078.
TEST_F(BitmapLoader, ReadsPixelsRightAfterASixteenEntryPalette) {
    const auto image = makeImage(32, 30, 16, 16, 7);
    const Bytes file = bmp::encode(image);
    ASSERT_EQ(u32(file, 10), 118u);
    ASSERT_EQ(file.size(), 118u + 960u);
    expectDecodes(file, image, 16);
}

TEST_F(BitmapLoader, RefusesPixelOffsetsInsideTheHeaders) {
    for (std::uint32_t header : {40u, 124u}) {
        bmp::Layout layout;
        layout.infoHeaderSize = header;
        const Bytes good = bmp::encode(makeImage(4, 4, 16, 16, 8), layout);
        for (std::uint32_t offset : {0u, 13u, 14u, 54u, 13 + header}) {
            if (offset >= 14 + header) continue;
            Bytes file = good;
            putU32(file, 10, offset);
            expectRefused(file);
        }
    }
}

// Every pixel whose byte lies at or past the end of the file takes entry 255.
TEST_F(BitmapLoader, GivesMissingPixelsTheLastPaletteColour) {
    const auto image = makeImage(5, 4, 256, 255, 9);  // entry 255 itself unused
    const Bytes whole = bmp::encode(image);
    const bmp::Colour last = image.palette[255];
    for (std::size_t size = 1078; size <= whole.size(); ++size) {
        SCOPED_TRACE(size);
        bmp::PalettedImage seen = image;
        for (std::size_t i = 0; i < seen.indices.size(); ++i) {
            if (1078 + i / 5 * stride(5) + i % 5 >= size) seen.indices[i] = 255;
        }
        expectDecodes(Bytes(whole.begin(), whole.begin() + size), seen, 256);
    }
    // An offset at or beyond the end leaves every pixel missing; so does a
    // file ending inside the palette, where entry 255 is then black.
    const Bytes lastRgb{last.r, last.g, last.b}, black{0, 0, 0};
    for (auto [size, offset, colour] : {std::tuple{1078, 1078u, lastRgb},
                                        {1078, 1079u, lastRgb},
                                        {1078, 0x7FFFFFFFu, lastRgb},
                                        {1078, 0xFFFFFFFFu, lastRgb},
                                        {1076, 1078u, black}}) {
        SCOPED_TRACE(std::to_string(size) + " bytes, offset " + std::to_string(offset));
        Bytes file(whole.begin(), whole.begin() + size);
        putU32(file, 10, offset);
        const Loaded out = load(file);
        ASSERT_TRUE(out.pixels);
        for (int i = 0; i < image.width * image.height; ++i)
            EXPECT_EQ(Bytes(&out.pixels[3 * i], &out.pixels[3 * i] + 3), colour);
    }
}

// --- Sizes -----------------------------------------------------------------

TEST_F(BitmapLoader, ReturnsTopDownFilesBottomRowFirst) {
    const auto image = makeImage(6, 5, 256, 256, 10);
    bmp::Layout layout;
    layout.topDown = true;
    const Bytes file = bmp::encode(image, layout);
    ASSERT_EQ(static_cast<std::int32_t>(u32(file, 22)), -5);
    expectDecodes(file, image, 256);
}

TEST_F(BitmapLoader, RefusesNegativeWidthAndTheMostNegativeHeight) {
    const Bytes good = bmp::encode(makeImage(4, 4, 16, 16, 11));
    for (std::int32_t width : {-1, -4, INT32_MIN}) {
        Bytes file = good;
        putU32(file, 18, static_cast<std::uint32_t>(width));
        expectRefused(file);
    }
    Bytes file = good;
    putU32(file, 22, static_cast<std::uint32_t>(INT32_MIN));
    expectRefused(file);
}

TEST_F(BitmapLoader, GivesAnEmptyPictureForAZeroSide) {
    for (auto [width, height] : {std::pair{0, 0}, {0, 3}, {4, 0}}) {
        const Loaded out = load(bmp::encode(makeImage(width, height, 16, 16, 12)));
        EXPECT_TRUE(out.pixels);
        EXPECT_EQ(out.width, width);
        EXPECT_EQ(out.height, height);
    }
}

// A header and palette alone, claiming the given size.
Bytes claiming(std::int32_t width, std::int32_t height) {
    Bytes file = bmp::encode(makeImage(0, 0, 256, 1, 13));
    putU32(file, 18, static_cast<std::uint32_t>(width));
    putU32(file, 22, static_cast<std::uint32_t>(height));
    return file;
}

TEST_F(BitmapLoader, RefusesSidesAboveTheBoundBeforeAllocating) {
    const std::int32_t over = kMaxBitmapSide + 1;
    for (auto [width, height] : {std::pair{over, 1},
                                 {1, over},
                                 {1, -over},
                                 {1'000'000, 1'000'000},
                                 {INT32_MAX, INT32_MAX},
                                 {INT32_MAX, -INT32_MAX}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        expectRefused(claiming(width, height));
    }
    for (auto [width, height] :
         {std::pair{kMaxBitmapSide, 1}, {1, kMaxBitmapSide}, {1, -kMaxBitmapSide}}) {
        const Loaded out = load(claiming(width, height));
        EXPECT_TRUE(out.pixels);
        EXPECT_EQ(out.width, width);
        EXPECT_EQ(out.height, std::abs(height));
    }
}

// --- Whole-row reads against byte-at-a-time decoding -------------------------

TEST_F(BitmapLoader, RowReadsMatchByteAtATimeDecoding) {
    std::mt19937 rng(20240607);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int i = 0; i < 400; ++i) {
        // The first file is big enough for the loader's large-buffer path.
        const int width = i == 0 ? 1024 : pick(0, 9) == 0 ? pick(100, 1500) : pick(0, 24);
        const int height = i == 0 ? 1024 : pick(0, 12);
        const int paletteSize = pick(0, 256);
        const auto image = makeImage(width, height, paletteSize, 256, rng());
        bmp::Layout layout;
        layout.infoHeaderSize = kSupportedHeaders[pick(0, 4)];
        layout.topDown = pick(0, 1);
        if (pick(0, 2) == 0) layout.coloursUsed = pick(0, 2) ? pick(0, 300) : 0;
        const int paletteStart = 14 + layout.infoHeaderSize;
        const int offsetKind = pick(0, 3);  // past the palette's start, inside the headers, default
        if (offsetKind == 0) layout.pixelOffset = paletteStart + pick(0, 4 * paletteSize + 64);
        if (offsetKind == 1) layout.pixelOffset = paletteStart - pick(1, 8);
        Bytes file = bmp::encode(image, layout);
        scribble(file, image, layout.infoHeaderSize, static_cast<std::uint8_t>(rng()));
        if (pick(0, 1)) file.resize(pick(0, static_cast<int>(file.size())));

        SCOPED_TRACE("file " + std::to_string(i));
        const Decoded expected = referenceDecode(file);
        const Loaded out = load(file);
        ASSERT_EQ(bool(out.pixels), expected.ok);
        if (!expected.ok) continue;
        ASSERT_EQ(out.width, expected.width);
        ASSERT_EQ(out.height, expected.height);
        ASSERT_TRUE(samePixels(out.pixels, expected.rgb, expected.width));
    }
}

}  // namespace
