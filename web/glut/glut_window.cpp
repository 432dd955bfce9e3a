// The browser's GLUT window over Emscripten's own GLUT: GLUT's command-line
// options read as freeglut reads them, a window that cannot be made ending
// the program as freeglut ends it, and the page's Close as the window's close
// box. glut_window.js hands Emscripten's glutInit and glutCreateWindow over
// under the names below.
#include <GL/glut.h>
#include <emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "glut_options.h"

extern "C" {
void emscriptenGlutInit(int* argc, char** argv);
int emscriptenGlutCreateWindow(const char* title);
}

namespace {

const char* programName = "";

// freeglut's fgError: the complaint on standard error, then exit(1).
[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "freeglut (%s): %s\n", programName, what.c_str());
    std::exit(1);
}

// The page is the window manager: it sizes the window in CSS pixels.
EM_JS(void, askForWindowSize, (unsigned width, unsigned height), {
    if (Module["placeWindow"]) Module["placeWindow"](width >>> 0, height >>> 0);
});

}  // namespace

void glutInit(int* argc, char** argv) {
    emscriptenGlutInit(argc, argv);
    if (*argc > 0 && argv[0]) programName = argv[0];
    const glut::Options options = glut::readOptions(*argc, argv);
    if (!options.error.empty()) fail(options.error);
    if (options.width) askForWindowSize(*options.width, *options.height);
}

int glutCreateWindow(const char* title) {
    const int window = emscriptenGlutCreateWindow(title);
    // Where freeglut cannot open its display; Emscripten's GLUT would go on
    // without a context and draw nothing.
    if (!window) fail(std::string("this browser gives no WebGL 2, which ") + title + " needs");
    return window;
}

// Closing the window: freeglut exits with status 0, running the exit-time
// handlers. The browser's event loop keeps the runtime alive, so the exit is
// forced.
extern "C" EMSCRIPTEN_KEEPALIVE void glutCloseWindow() {
    emscripten_force_exit(0);
}
