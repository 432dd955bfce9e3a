#include <GL/glut.h>

#include "frame_rate.h"
#include "scene.h"
#include "scene_state.h"

namespace {

// The sunset stretched over the whole viewport, leaving depth untouched so it
// never hides the ring.
void drawBackground() {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -1, 1);
    glDisable(GL_DEPTH_TEST);
    glBindTexture(GL_TEXTURE_2D, sceneState.sunsetTexture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glBegin(GL_QUADS);
    glTexCoord2d(0, 0);
    glVertex2d(-1, -1);
    glTexCoord2d(1, 0);
    glVertex2d(1, -1);
    glTexCoord2d(1, 1);
    glVertex2d(1, 1);
    glTexCoord2d(0, 1);
    glVertex2d(-1, 1);
    glEnd();
    glPopMatrix();
}

// The ring reflecting the sunset: sphere-mapped coordinates from the normals,
// with the sunset still bound in replace mode.
void drawReflection() {
    glEnable(GL_TEXTURE_GEN_S);
    glEnable(GL_TEXTURE_GEN_T);
    glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    glDepthFunc(GL_LESS);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslated(0, 0, -8);
    glRotated(sceneState.angleY, 0, 1, 0);
    glRotated(sceneState.angleX, 1, 0, 0);
    glCallList(sceneState.ringList);
}

// The same ring again under the same transform, colour map at half strength
// over the reflection. GL_LEQUAL lets the second drawing pass the depth test.
void drawColorMap() {
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glDepthFunc(GL_LEQUAL);
    glBindTexture(GL_TEXTURE_2D, sceneState.colorMapTexture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glColor4d(1, 1, 1, 0.5);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glCallList(sceneState.ringList);
    glDisable(GL_BLEND);
}

}  // namespace

void onDisplay() {
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawBackground();
    drawReflection();
    drawColorMap();
    frameRateDisplay.update();
    glFlush();
    glutSwapBuffers();
}
