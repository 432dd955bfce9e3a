// The page's converter, as a WebAssembly module its worker calls: RGBA
// pixels in, the 8-bit bitmap the program reads out, written by the same
// code that writes the sample pictures; and the program's own loader's
// judgement of whether a file needs converting at all.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <vector>

#include "bmp_writer.h"
#include "paletted_bitmap.h"
#include "quantize.h"

namespace {
std::vector<std::uint8_t> bitmap;
int colours = 0;
}  // namespace

extern "C" {

// Whether a file whose first `size` bytes these are is of the kind the
// program reads, so that it goes to the program as it is.
EMSCRIPTEN_KEEPALIVE int orvane_is_paletted_bitmap(const std::uint8_t* head, int size) {
    return isPalettedBitmap(head, static_cast<std::size_t>(size));
}

// Converts width x height RGBA pixels (top row first); the bitmap stays
// here until the next call. Returns its size in bytes.
EMSCRIPTEN_KEEPALIVE int orvane_convert(const std::uint8_t* rgba, int width, int height) {
    const bmp::PalettedImage image = quantize::toPaletted(rgba, width, height, 4);
    colours = static_cast<int>(image.palette.size());
    bitmap = bmp::encode(image);
    return static_cast<int>(bitmap.size());
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* orvane_bitmap() { return bitmap.data(); }

// The number of colours in the last bitmap's palette.
EMSCRIPTEN_KEEPALIVE int orvane_colours() { return colours; }

}
