#include <GL/glut.h>

#include <cstdio>

#include "app.h"
#include "scene.h"
#include "warning_box.h"
#include "window_class.h"

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow("Orvane");
    setWindowClass("orvane", "Orvane");

    if (!setUpScene()) {
        // The box's words on standard error too, after the picture's reason,
        // for whoever started the program from a terminal, a console or the page.
        const char* caption = "Error!";
        const char* text = "Initialization failed";
        std::fprintf(stderr, "%s %s\n", caption, text);
        std::fflush(stderr);
        showWarningBox(caption, text);
        return 1;
    }

    glutDisplayFunc(onDisplay);
    glutReshapeFunc(onReshape);
    glutIdleFunc(onIdle);
    glutMainLoop();

    // Only reached where GLUT's main loop returns instead of exiting.
    releaseScene();
    return 0;
}
