// The ring display list and the per-frame drawing sequence.
#pragma once

// Compiles the ring into a new display list and returns its name, or 0 when
// GL has no list name to give (then nothing is compiled). Needs a current GL
// context.
unsigned int buildRingList(double majorRadius, double tubeRadius, int majorSegments,
                           int tubeSegments);

// Issues the normal, then the position, of the ring's surface point at ring
// angle `theta` and tube angle `phi`. Only valid between glBegin and glEnd.
void emitRingVertex(double majorRadius, double tubeRadius, double theta, double phi);

// Draws one frame from the scene state and swaps buffers. The GLUT display
// callback; also called once per idle step.
void onDisplay();
