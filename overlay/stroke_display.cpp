#include <GL/glut.h>

#include "frame_rate.h"

void StrokeFrameRateDisplay::draw() {
    // Flat text: no lighting, blending, depth or texture, restored on the way out.
    glPushAttrib(GL_ENABLE_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);

    // One unit per window pixel, origin at the bottom left.
    const int width = glutGet(GLUT_WINDOW_WIDTH);
    const int height = glutGet(GLUT_WINDOW_HEIGHT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, width, 0, height, 0, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    glColor3d(red, green, blue);
    // Stroke-font units to pixels: 152.38 units make textSize pixels.
    const double scale = textSize / 152.38;
    // Measured in the monospaced font, drawn in the proportional one, so the
    // text ends near, not exactly at, the right edge.
    const auto* characters = reinterpret_cast<const unsigned char*>(text);
    const int length = glutStrokeLength(GLUT_STROKE_MONO_ROMAN, characters);
    glTranslated(width - length * scale, 120.0 * scale, 0.0);
    const float s = static_cast<float>(scale);
    glScalef(s, s, s);
    for (const unsigned char* c = characters; *c; ++c) glutStrokeCharacter(GLUT_STROKE_ROMAN, *c);

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glPopAttrib();
}
