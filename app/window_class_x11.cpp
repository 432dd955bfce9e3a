// Linux form of the window class: GLUT sets none, so the class hint is put
// on the window GLX draws to, through GLUT's own connection.
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <string>

#include "window_class.h"

void setWindowClass(const char* name, const char* className) {
    Display* display = glXGetCurrentDisplay();
    const GLXDrawable window = glXGetCurrentDrawable();
    if (!display || !window) return;
    // XClassHint takes writable strings.
    std::string resName(name), resClass(className);
    XClassHint hint;
    hint.res_name = resName.data();
    hint.res_class = resClass.data();
    XSetClassHint(display, window, &hint);
    XFlush(display);
}
