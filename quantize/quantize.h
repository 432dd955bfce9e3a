// Turns a true-colour picture into an 8-bit paletted one: at most 256
// colours chosen to lie as close to the picture as they can, each pixel
// given its nearest, no dithering. A picture of 256 colours or fewer keeps
// exactly its own. The same picture always gives the same result.
#pragma once

#include <cstdint>

#include "bmp_writer.h"

namespace quantize {

// `pixels`: width x height pixels of `channels` bytes each (3: RGB, 4: RGBA,
// whose alpha is not looked at), top row first, rows without filler. The
// result is laid out as the bitmap writer takes it (bottom row first).
bmp::PalettedImage toPaletted(const std::uint8_t* pixels, int width, int height, int channels);

}  // namespace quantize
