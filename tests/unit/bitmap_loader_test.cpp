// The picture loader on the fixture table, against a decoder that looks at
// one byte at a time; and the documents that list its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include "bitmap_fixtures.h"
#include "bmp_writer.h"
#include "paletted_bitmap.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
constexpr int kUntouched = -111;

struct Decoded {
    bool ok = false;
    int width = kUntouched, height = kUntouched;
    Bytes rgb;
};

// The format's rules, each byte looked up where it lies; a byte past the end
// reads as -1. Positions in 64 bits, which an offset near 4 GiB plus a row
// cannot wrap where size_t has 32 (wasm).
Decoded referenceDecode(const Bytes& f) {
    auto at = [&](std::uint64_t i) -> int { return i < f.size() ? f[std::size_t(i)] : -1; };
    auto u32 = [&](std::size_t i) { return i + 4 <= f.size() ? getU32(f, i) : 0u; };
    const std::uint32_t header = u32(14), offset = u32(10);
    const bool knownHeader = header == 40 || header == 52 || header == 56 || header == 108 ||
                             header == 124;
    if (at(0) != 'B' || at(1) != 'M' || f.size() < 18 || !knownHeader || f.size() < 14 + header)
        return {};
    const auto width = std::int32_t(u32(18)), height = std::int32_t(u32(22));
    const int rows = height == INT32_MIN ? -1 : std::abs(height);
    if ((at(28) | at(29) << 8) != 8 || u32(30) != 0 || width < 0 || rows < 0 ||
        width > kMaxBitmapSide || rows > kMaxBitmapSide || offset < 14 + header)
        return {};
    std::size_t stored = std::min<std::size_t>((offset - 14 - header) / 4, 256);
    if (u32(46) != 0) stored = std::min<std::size_t>(stored, u32(46));
    Decoded d{true, width, rows, Bytes(std::size_t(width) * rows * 3)};
    const std::size_t stride = (std::size_t(width) + 3) / 4 * 4;
    for (int r = 0; r < rows; ++r) {
        for (int x = 0; x < width; ++x) {
            const int read = at(std::uint64_t(offset) + r * stride + x), index = read < 0 ? 255 : read;
            const std::size_t entry = 14 + header + 4 * std::size_t(index);
            const std::size_t out = (std::size_t(height < 0 ? rows - 1 - r : r) * width + x) * 3;
            for (int c = 0; c < 3; ++c)
                d.rgb[out + c] = std::size_t(index) < stored && at(entry + 3) >= 0 ? f[entry + 2 - c] : 0;
        }
    }
    return d;
}

// Where Linux lists them (under Wine, /proc is the emulator's).
long openDescriptors() {
#ifdef __linux__
    return std::distance(fs::directory_iterator("/proc/self/fd"), {});
#else
    return 0;
#endif
}

// Leaves non-zero bytes where the loader's stack frame will lie, so that a
// palette entry it never set cannot pass for black.
[[gnu::noinline]] void dirtyStack() {
    volatile std::uint8_t junk[1 << 16];
    for (auto& byte : junk) byte = 0xA5;
}

class BitmapLoader : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("orvane-" + std::to_string(std::random_device()()));
        ASSERT_TRUE(fs::create_directory(dir_));
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const Bytes& bytes) {
        const std::string path = (dir_ / "p.bmp").string();
        EXPECT_TRUE(bmp::writeFile(path, bytes));
        return path;
    }

    // Loads `path` and checks the result against `expected`. A refusal must
    // leave the sizes untouched and no descriptor open (leaks are the
    // sanitizer build's to find). Returns why it was refused.
    BitmapRefusal expectLoads(const std::string& path, const Decoded& expected) {
        const auto descriptors = openDescriptors();
        Decoded got;
        BitmapRefusal why;
        EXPECT_EQ(bool(loadPalettedBitmap(path.c_str(), &got.width, &got.height, &why)), expected.ok);
        EXPECT_EQ(got.width, expected.width);
        EXPECT_EQ(got.height, expected.height);
        EXPECT_EQ(openDescriptors(), descriptors);
        if (expected.ok) {  // the pixels, read with nothing run between the dirt and the loader
            std::FILE* file = std::fopen(path.c_str(), "rb");
            dirtyStack();
            const PixelBuffer pixels = readPalettedBitmap(file, &got.width, &got.height);
            std::fclose(file);
            EXPECT_TRUE(pixels && std::equal(expected.rgb.begin(), expected.rgb.end(), pixels.get()));
        }
        return why;
    }

    fs::path dir_;
};

TEST_F(BitmapLoader, AcceptsOrRefusesEveryFixtureAsTheFormatSays) {
    using R = BitmapRefusal;
    for (const BitmapFixture& fixture : bitmapFixtures()) {
        SCOPED_TRACE(fixture.name);
        const Decoded expected = referenceDecode(fixture.bytes);
        ASSERT_EQ(expected.ok, fixture.refusal == R::none) << "table and format disagree";
        EXPECT_EQ(expectLoads(write(fixture.bytes), expected).kind, fixture.refusal);
        // Of the loader's kind by its first bytes: refused, if at all, for its sizes or offset.
        const bool ownKind = fixture.refusal == R::none || fixture.refusal >= R::negativeWidth;
        const std::size_t head = std::min(fixture.bytes.size(), kBitmapHeadBytes);
        EXPECT_EQ(isPalettedBitmap(fixture.bytes.data(), head), ownKind);
    }
}

// Each kind of refusal in plain words, naming the values that are wrong (the
// program test reads the words of a missing file, 24 bits, run-length and a
// file cut in its headers from the program itself).
TEST_F(BitmapLoader, SaysWhyItRefuses) {
    std::map<std::string, std::string> reasons = {
        {"cut_in_headers_0.bmp", "empty file"},
        {"png_signature.bmp", "not a Windows bitmap (it starts with the PNG signature)"},
        {"magic_MB.bmp", "not a Windows bitmap (it does not start with \"BM\")"},
        {"header_size_12.bmp", "an OS/2 bitmap (12-byte header); only Windows bitmaps are read"},
        {"header_size_41.bmp", "unknown header size 41; only Windows bitmaps are read"},
        {"compression_3.bmp", "compressed (method 3); only uncompressed pictures are read"},
        {"width_minus_1.bmp", "negative width -1"},
        {"height_minus_16385.bmp", "1 x 16385 pixels; each side may be at most 16384"},
        {"height_most_negative.bmp", "16 x 2147483648 pixels; each side may be at most 16384"},
        {"offset_in_headers_20.bmp", "pixel data offset 20 lies inside the headers, which end at 54"},
    };
    for (const BitmapFixture& fixture : bitmapFixtures())
        if (reasons.count(fixture.name)) bmp::writeFile((dir_ / fixture.name).string(), fixture.bytes);
    for (const auto& [name, reason] : reasons)
        EXPECT_EQ(describeRefusal(expectLoads((dir_ / name).string(), {})), reason) << name;
    // A folder: POSIX opens it, then cannot read it; Windows does not open it.
    const BitmapRefusal folder = expectLoads(dir_.string(), {});
    EXPECT_TRUE(folder.kind == BitmapRefusal::cannotRead || folder.kind == BitmapRefusal::cannotOpen);
}

#ifdef ORVANE_SOURCE_DIR
// The documents that hold the table of refusals, each with its platform's fixes.
const char* const kRefusalTables[] = {"README.md", "web/page/index.html", "packaging/orvane.6.in",
                                      "tools/README-windows.txt"};

// A document's words as a reader meets them: the manual page as man sets
// it, the others without their markup; one space for any run of white space.
std::string readerText(const std::string& name) {
    const std::string path = std::string(ORVANE_SOURCE_DIR) + "/" + name;
    std::string text;
    if (name.find(".6") != std::string::npos) {
        std::FILE* man = popen(("groff -man -Tascii -P-cbou -rLL=1000n " + path).c_str(), "r");
        for (int c; man && (c = std::fgetc(man)) != EOF;) text += char(c);
        if (man) pclose(man);
    } else {
        std::stringstream file;
        file << std::ifstream(path).rdbuf();
        text = file.str();
    }
    auto replace = [&text](std::initializer_list<std::pair<const char*, const char*>> pairs) {
        for (const auto& [pattern, by] : pairs) text = std::regex_replace(text, std::regex(pattern), by);
    };
    if (name.find(".html") != std::string::npos)
        replace({{"<[^>]*>", ""}, {"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}});
    if (name.find(".md") != std::string::npos) replace({{"`", ""}});
    replace({{"\\s+", " "}});
    return text;
}

// Every reason the loader gives, as describeRefusal writes it: each branch
// with sentinel values, which then read as the letters the tables use (N, M,
// W, H; "..." for the system's words).
TEST(RefusalTable, EveryDocumentListsEveryReasonInTheLoadersWords) {
    using R = BitmapRefusal;
    struct Reason {
        R::Kind kind;
        long long first, second;
        const char* letters;
    };
    const Reason reasons[] = {
        {R::cannotOpen, ENOENT, 0, "..."}, {R::cannotRead, EISDIR, 0, "..."},
        {R::endsInHeaders, 0, 0, ""}, {R::endsInHeaders, 7919, 0, "N"},
        {R::notABitmap, 0x474E5089, 0, ""}, {R::notABitmap, 0xE0FFD8FF, 0, ""},
        {R::notABitmap, 0x38464947, 0, ""}, {R::notABitmap, 0, 0, ""},
        {R::unknownHeader, 12, 0, "N"}, {R::unknownHeader, 64, 0, "N"}, {R::unknownHeader, 7919, 0, "N"},
        {R::notEightBits, 7919, 0, "N"}, {R::compressed, 1, 0, ""}, {R::compressed, 7919, 0, "N"},
        {R::negativeWidth, -7919, 0, "N"}, {R::tooLarge, 7919, 7927, "WH"},
        {R::pixelsInsideHeaders, 7919, 7927, "NM"}, {R::noMemory, 7919, 7927, "WH"},
    };
    std::set<int> kinds;
    std::vector<std::string> patterns;
    for (const Reason& r : reasons) {
        std::string text = describeRefusal({r.kind, r.first, r.second});
        const std::string letters = r.letters;
        if (letters == "...") {
            const std::string system = std::strerror(int(r.first));
            text.replace(text.find(system), system.size(), "...");
        } else {
            for (std::size_t k = 0; k < letters.size(); ++k) {
                const std::string value = std::to_string(k ? r.second : r.first);
                ASSERT_NE(text.find(value), std::string::npos) << text;
                text.replace(text.find(value), value.size(), letters.substr(k, 1));
            }
        }
        kinds.insert(r.kind);
        if (std::find(patterns.begin(), patterns.end(), text) == patterns.end()) patterns.push_back(text);
    }
    EXPECT_EQ(kinds.size(), std::size_t(R::noMemory)) << "a kind of refusal missing here";
    for (const char* document : kRefusalTables) {
        const std::string text = readerText(document);
        ASSERT_GT(text.size(), 1000u) << document;
        for (const std::string& reason : patterns)
            EXPECT_NE(text.find(reason), std::string::npos) << document << ": " << reason;
    }
}
#endif

}  // namespace
