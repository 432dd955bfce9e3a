/* What freeglut's stroke-font sources need from its internal header: the
 * shapes of their tables, and the two fonts they define. */
#ifndef ORVANE_FG_INTERNAL_H
#define ORVANE_FG_INTERNAL_H

#include <GL/gl.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    GLfloat X, Y;
} SFG_StrokeVertex;

typedef struct {
    int Number;
    const SFG_StrokeVertex* Vertices;
} SFG_StrokeStrip;

typedef struct {
    GLfloat Right; /* the advance */
    int Number;
    const SFG_StrokeStrip* Strips;
} SFG_StrokeChar;

typedef struct {
    char* Name;
    int Quantity;
    GLfloat Height;
    const SFG_StrokeChar** Characters;
} SFG_StrokeFont;

extern SFG_StrokeFont fgStrokeRoman;
extern SFG_StrokeFont fgStrokeMonoRoman;

#ifdef __cplusplus
}
#endif

#endif
