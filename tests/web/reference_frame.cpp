// The Mesa frame the browser's is compared with: the program's own set-up
// and frame, at the angles given and with the rate text given (none by
// default), in GLUT's window (-geometry WxH for another size), written to
// standard output as a binary PPM (top row first).
//   reference_frame [-geometry WxH] ANGLE_X ANGLE_Y [TEXT] > frame.ppm   (in the pictures' folder)
#include <GL/glut.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app.h"
#include "frame_rate.h"
#include "scene.h"
#include "scene_state.h"

namespace {

double angleX, angleY;

// Drawn on the first expose, once the window is on the screen. Mesa's
// software renderer swaps by copying, so the back buffer still holds the
// frame afterwards.
void drawAndWrite() {
    const int width = glutGet(GLUT_WINDOW_WIDTH), height = glutGet(GLUT_WINDOW_HEIGHT);
    onReshape(width, height);
    sceneState.angleX = angleX;
    sceneState.angleY = angleY;
    onDisplay();  // the first frame: only a text set beforehand

    std::vector<unsigned char> rgb(3 * width * height);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    std::printf("P6\n%d %d\n255\n", width, height);
    for (int row = height - 1; row >= 0; --row) std::fwrite(&rgb[3 * width * row], 3, width, stdout);
    std::exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    glutInit(&argc, argv);
    if (argc != 3 && argc != 4) return 2;
    angleX = std::atof(argv[1]);
    angleY = std::atof(argv[2]);
    if (argc == 4) std::strncpy(frameRateDisplay.text, argv[3], FrameRateText::kMaxLength);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutCreateWindow("reference");
    if (!setUpScene()) return 1;
    glutDisplayFunc(drawAndWrite);
    glutMainLoop();
    return 1;
}
