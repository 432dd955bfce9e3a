// The built-in sample pictures the demo starts with.
#pragma once

#include "bmp_writer.h"

namespace samples {

// Evening sky over the sea, the sun low above the horizon.
bmp::PalettedImage sunset(int size);

// A rainbow pattern that tiles seamlessly in both directions, for wrapping
// around the ring.
bmp::PalettedImage colorMap(int size);

}  // namespace samples
