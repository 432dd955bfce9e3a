// The scene's one record: what set-up makes, the frame reads, and release
// deletes. The application owns it; the scene only reads it.
#pragma once

#include <cstdint>

#include "paletted_bitmap.h"

struct SceneState {
    PixelBuffer sunsetPixels;  // kept after upload until release
    std::int32_t sunsetWidth = 0;
    std::int32_t sunsetHeight = 0;
    PixelBuffer colorMapPixels;
    std::int32_t colorMapWidth = 0;
    std::int32_t colorMapHeight = 0;
    unsigned int sunsetTexture = 0;    // GL texture names; 0 = none
    unsigned int colorMapTexture = 0;
    unsigned int ringList = 0;         // GL display-list name; 0 = none
    double angleX = 0.0;               // degrees, never wrapped
    double angleY = 0.0;
};

extern SceneState sceneState;
