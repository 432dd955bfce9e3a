#include <GL/gl.h>

#include "ring_mesh.h"
#include "scene.h"

void emitRingVertex(double majorRadius, double tubeRadius, double theta, double phi) {
    const ring::SurfacePoint p = ring::surfacePoint(majorRadius, tubeRadius, theta, phi);
    glNormal3d(p.normal.x, p.normal.y, p.normal.z);
    glVertex3d(p.position.x, p.position.y, p.position.z);
}

unsigned int buildRingList(double majorRadius, double tubeRadius, int majorSegments,
                           int tubeSegments) {
    const GLuint list = glGenLists(1);
    if (list == 0) return 0;

    glNewList(list, GL_COMPILE);
    glBegin(GL_QUADS);
    ring::forEachRingCorner(majorSegments, tubeSegments,
                            [&](double s, double t, double theta, double phi) {
                                glTexCoord2d(s, t);
                                emitRingVertex(majorRadius, tubeRadius, theta, phi);
                            });
    glEnd();
    glEndList();
    return list;
}
