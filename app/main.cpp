#include <GL/glut.h>

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
        showWarningBox("Error!", "Initialization failed");
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
