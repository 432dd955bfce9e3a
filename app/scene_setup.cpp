#include <GL/glu.h>

#include <cstdio>

#include "app.h"
#include "scene.h"
#include "scene_state.h"
#include "warning_box.h"

namespace {

// One level, no mipmaps, repeating in both directions.
void uploadTexture(unsigned int* texture, const PixelBuffer& pixels, int width, int height) {
    glGenTextures(1, texture);
    glBindTexture(GL_TEXTURE_2D, *texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 pixels.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
}

// Loads a picture; when it is refused, says on standard error which and why,
// so that whoever reads the warning box's line there can fix it.
bool loadPicture(const char* path, PixelBuffer* pixels, int* width, int* height) {
    BitmapRefusal why;
    *pixels = loadPalettedBitmap(path, width, height, &why);
    if (!*pixels) {
        std::fprintf(stderr, "%s: %s (%s)\n", path, describeRefusal(why).c_str(), pictureHelp());
    }
    return bool(*pixels);
}

}  // namespace

bool setUpScene() {
    SceneState& s = sceneState;
    if (!loadPicture("sunset.bmp", &s.sunsetPixels, &s.sunsetWidth, &s.sunsetHeight)) return false;
    // Pixel-buffer rows carry no filler.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    uploadTexture(&s.sunsetTexture, s.sunsetPixels, s.sunsetWidth, s.sunsetHeight);

    if (!loadPicture("colormap.bmp", &s.colorMapPixels, &s.colorMapWidth, &s.colorMapHeight))
        return false;
    uploadTexture(&s.colorMapTexture, s.colorMapPixels, s.colorMapWidth, s.colorMapHeight);

    // Texturing stays on for the whole run; only the rate text turns it off,
    // inside its own attribute scope.
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_TEXTURE_2D);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);

    // A 0 list name is kept as it is: it draws nothing.
    s.ringList = buildRingList(2.0, 0.5, 25, 20);
    return true;
}

void releaseScene() {
    SceneState& s = sceneState;
    glDeleteLists(s.ringList, 1);
    if (s.colorMapTexture != 0) glDeleteTextures(1, &s.colorMapTexture);
    s.colorMapPixels.reset();
    if (s.sunsetTexture != 0) glDeleteTextures(1, &s.sunsetTexture);
    s.sunsetPixels.reset();
}

void onReshape(int width, int height) {
    if (height <= 0) return;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, static_cast<double>(width) / height, 1.0, 20.0);
}

void onIdle() {
    sceneState.angleX += 0.5;
    sceneState.angleY += 0.2;
    onDisplay();
}
