// The application shell: scene set-up and release, and the window callbacks
// besides the display callback.
#pragma once

// Loads both pictures, uploads them as textures, sets the fixed GL state and
// compiles the ring. False when a picture cannot be loaded; needs a current
// GL context.
bool setUpScene();

// Deletes everything setUpScene made.
void releaseScene();

// GLUT reshape callback: viewport and 45-degree perspective. A height of 0
// or less leaves both as they were.
void onReshape(int width, int height);

// GLUT idle callback: turns the ring one step and draws one frame.
void onIdle();
