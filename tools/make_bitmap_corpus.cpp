// Writes a corpus of named bitmap files, sound and broken, for tests that
// hand the program pictures it must accept or refuse, and as fuzzing seeds.
//
//   make_bitmap_corpus FOLDER [NAME...]   writes every file (or the named
//                                         ones) and FOLDER/corpus.tsv
//   make_bitmap_corpus --list             prints the table
//
// corpus.tsv holds one line per file: name, "accepted" or "refused" (what
// the program's loader does with it), and what is special about it.
// To add a case, add a row to kFixtures.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "bmp_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A picture with `colours` palette entries whose indices run diagonally
// through all of them, so every entry is used and rows differ.
bmp::PalettedImage picture(int width, int height, int colours) {
    bmp::PalettedImage image;
    image.width = width;
    image.height = height;
    for (int k = 0; k < colours; ++k) {
        image.palette.push_back({static_cast<std::uint8_t>(k * 37), static_cast<std::uint8_t>(255 - k),
                                 static_cast<std::uint8_t>(k * 11)});
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.indices.push_back(static_cast<std::uint8_t>((x + 3 * y) % colours));
        }
    }
    return image;
}

Bytes plain() { return bmp::encode(picture(16, 8, 16)); }

Bytes withLayout(const bmp::Layout& layout) { return bmp::encode(picture(16, 8, 16), layout); }

void put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
}

Bytes cut(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

// Offsets of the size fields in the information header.
constexpr std::size_t kWidthAt = 18;
constexpr std::size_t kHeightAt = 22;

Bytes withSize(std::int32_t width, std::int32_t height) {
    Bytes bytes = plain();
    put32(bytes, kWidthAt, static_cast<std::uint32_t>(width));
    put32(bytes, kHeightAt, static_cast<std::uint32_t>(height));
    return bytes;
}

enum class Outcome { accepted, refused };

struct Fixture {
    const char* name;
    Outcome outcome;
    const char* what;
    Bytes (*make)();
};

const Fixture kFixtures[] = {
    // Sound files.
    {"valid_basic.bmp", Outcome::accepted, "16x8, 16-entry palette, 40-byte header", plain},
    {"valid_full_palette.bmp", Outcome::accepted, "64x64, 256-entry palette",
     [] { return bmp::encode(picture(64, 64, 256)); }},
    {"valid_odd_width.bmp", Outcome::accepted, "5x3: rows padded to 8 bytes",
     [] { return bmp::encode(picture(5, 3, 16)); }},
    {"valid_top_down.bmp", Outcome::accepted, "negative height: top row first",
     [] { return withLayout({40, 8, 0, {}, {}, true}); }},
    {"valid_header_108.bmp", Outcome::accepted, "108-byte header, palette after it",
     [] { return withLayout({108, 8, 0, {}, {}, false}); }},
    {"valid_header_124.bmp", Outcome::accepted, "124-byte header, palette after it",
     [] { return withLayout({124, 8, 0, {}, {}, false}); }},
    {"valid_index_beyond_palette.bmp", Outcome::accepted,
     "4-entry palette, indices up to 15: those pixels are black",
     [] {
         bmp::PalettedImage image = picture(16, 8, 16);
         image.palette.resize(4);
         return bmp::encode(image);
     }},
    {"valid_truncated_pixels.bmp", Outcome::accepted,
     "ends halfway through the pixel rows: the rest takes palette entry 255",
     [] {
         const Bytes whole = plain();
         return cut(whole, whole.size() - 8 * 16 / 2);
     }},
    {"valid_zero_width.bmp", Outcome::accepted, "width 0: an empty picture", [] {
         return withSize(0, 8);
     }},

    // Files the loader refuses.
    {"bad_empty_file.bmp", Outcome::refused, "no bytes at all", [] { return Bytes{}; }},
    {"bad_magic.bmp", Outcome::refused, "starts with MB instead of BM",
     [] {
         Bytes bytes = plain();
         std::swap(bytes[0], bytes[1]);
         return bytes;
     }},
    {"bad_truncated_file_header.bmp", Outcome::refused, "ends inside the 14-byte file header",
     [] { return cut(plain(), 10); }},
    {"bad_truncated_info_header.bmp", Outcome::refused, "ends inside the information header",
     [] { return cut(plain(), 30); }},
    {"bad_24bit.bmp", Outcome::refused, "24 bits per pixel",
     [] { return withLayout({40, 24, 0, {}, {}, false}); }},
    {"bad_rle8.bmp", Outcome::refused, "RLE8 compression",
     [] { return withLayout({40, 8, 1, {}, {}, false}); }},
    {"bad_os2_header.bmp", Outcome::refused, "12-byte OS/2 header size",
     [] { return withLayout({12, 8, 0, {}, {}, false}); }},
    {"bad_odd_header_size.bmp", Outcome::refused, "information header size 44",
     [] { return withLayout({44, 8, 0, {}, {}, false}); }},
    {"bad_negative_width.bmp", Outcome::refused, "width -16", [] { return withSize(-16, 8); }},
    {"bad_most_negative_height.bmp", Outcome::refused, "height -2^31",
     [] { return withSize(16, std::numeric_limits<std::int32_t>::min()); }},
    {"bad_too_wide.bmp", Outcome::refused, "16385x1, one more than the largest side",
     [] { return withSize(16385, 1); }},
    {"bad_absurd_size.bmp", Outcome::refused, "a small file claiming 1000000x1000000 pixels",
     [] { return withSize(1000000, 1000000); }},
    {"bad_pixel_offset_in_headers.bmp", Outcome::refused, "pixel data offset 20, inside the headers",
     [] {
         Bytes bytes = plain();
         put32(bytes, 10, 20);
         return bytes;
     }},
};

const char* outcomeName(Outcome outcome) {
    return outcome == Outcome::accepted ? "accepted" : "refused";
}

const Fixture* find(const char* name) {
    for (const Fixture& fixture : kFixtures) {
        if (std::strcmp(fixture.name, name) == 0) return &fixture;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
        for (const Fixture& fixture : kFixtures) {
            std::printf("%s\t%s\t%s\n", fixture.name, outcomeName(fixture.outcome), fixture.what);
        }
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [NAME...] | --list\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];

    std::vector<const Fixture*> chosen;
    for (int k = 2; k < argc; ++k) {
        const Fixture* fixture = find(argv[k]);
        if (!fixture) {
            std::fprintf(stderr, "%s: no fixture named %s\n", argv[0], argv[k]);
            return 2;
        }
        chosen.push_back(fixture);
    }
    if (chosen.empty()) {
        for (const Fixture& fixture : kFixtures) chosen.push_back(&fixture);
    }

    std::string table;
    for (const Fixture* fixture : chosen) {
        if (!bmp::writeFile(folder + "/" + fixture->name, fixture->make())) {
            std::fprintf(stderr, "%s: cannot write %s into %s\n", argv[0], fixture->name,
                         folder.c_str());
            return 1;
        }
        table += std::string(fixture->name) + "\t" + outcomeName(fixture->outcome) + "\t" +
                 fixture->what + "\n";
    }
    const Bytes tableBytes(table.begin(), table.end());
    if (!bmp::writeFile(folder + "/corpus.tsv", tableBytes)) {
        std::fprintf(stderr, "%s: cannot write corpus.tsv into %s\n", argv[0], folder.c_str());
        return 1;
    }
    return 0;
}
