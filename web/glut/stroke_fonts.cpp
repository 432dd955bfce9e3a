// GLUT's two stroke fonts for the browser, which Emscripten's GLUT lacks:
// freeglut's own tables (fg_stroke_*.c, compiled from its source package)
// drawn and measured as freeglut does.
#include <GL/glut.h>

#include "fg_internal.h"

// The fonts' handles are these variables' addresses.
void* glutStrokeRoman = &fgStrokeRoman;
void* glutStrokeMonoRoman = &fgStrokeMonoRoman;

namespace {

const SFG_StrokeFont* fontFor(void* handle) {
    if (handle == GLUT_STROKE_ROMAN) return &fgStrokeRoman;
    if (handle == GLUT_STROKE_MONO_ROMAN) return &fgStrokeMonoRoman;
    return nullptr;
}

}  // namespace

void glutStrokeCharacter(void* fontHandle, int character) {
    const SFG_StrokeFont* font = fontFor(fontHandle);
    if (!font || character < 0 || character >= font->Quantity) return;
    const SFG_StrokeChar* glyph = font->Characters[character];
    if (!glyph) return;
    for (const SFG_StrokeStrip* strip = glyph->Strips; strip != glyph->Strips + glyph->Number;
         ++strip) {
        glBegin(GL_LINE_STRIP);
        for (int i = 0; i < strip->Number; ++i) glVertex2f(strip->Vertices[i].X, strip->Vertices[i].Y);
        glEnd();
    }
    glTranslatef(glyph->Right, 0.0f, 0.0f);
}

int glutStrokeLength(void* fontHandle, const unsigned char* string) {
    const SFG_StrokeFont* font = fontFor(fontHandle);
    if (!font || !string) return 0;
    // The widest line, summed in single precision as freeglut sums it.
    GLfloat longest = 0.0f, line = 0.0f;
    for (; *string; ++string) {
        const unsigned char c = *string;
        if (c >= font->Quantity) continue;
        if (c == '\n') {
            if (longest < line) longest = line;
            line = 0.0f;
        } else if (const SFG_StrokeChar* glyph = font->Characters[c]) {
            line += glyph->Right;
        }
    }
    if (longest < line) longest = line;
    return static_cast<int>(longest + 0.5);
}
