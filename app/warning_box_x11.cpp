// Linux form of the warning box: a small dialog of the program's own, drawn
// with plain Xlib, since X has no message-box service.
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstring>

#include "warning_box.h"

const char* pictureHelp() {
    // The installed program's own document; the README stays with the sources.
    return "see \"man orvane\"";
}

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 120;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 26;
constexpr int kButtonX = kWidth - kButtonWidth - 16;
constexpr int kButtonY = kHeight - kButtonHeight - 14;

unsigned long colour(Display* display, const char* name, unsigned long fallback) {
    XColor exact, screen;
    const Colormap map = DefaultColormap(display, DefaultScreen(display));
    return XAllocNamedColor(display, map, name, &screen, &exact) ? screen.pixel : fallback;
}

bool insideButton(int x, int y) {
    return x >= kButtonX && x < kButtonX + kButtonWidth && y >= kButtonY &&
           y < kButtonY + kButtonHeight;
}

void drawText(Display* display, Window window, GC gc, int x, int y, const char* text) {
    XDrawString(display, window, gc, x, y, text, static_cast<int>(std::strlen(text)));
}

struct Colours {
    unsigned long black, face, sign, button, buttonPressed;
};

Colours allocateColours(Display* display) {
    const unsigned long white = WhitePixel(display, DefaultScreen(display));
    return {BlackPixel(display, DefaultScreen(display)), colour(display, "#ececec", white),
            colour(display, "#f2c200", white), colour(display, "#fafafa", white),
            colour(display, "#c8c8c8", white)};
}

void paint(Display* display, Window window, GC gc, const Colours& colours, const char* text,
           bool pressed) {
    const unsigned long black = colours.black;
    XSetForeground(display, gc, colours.face);
    XFillRectangle(display, window, gc, 0, 0, kWidth, kHeight);

    // The warning sign: a yellow triangle with a black exclamation mark.
    XPoint sign[] = {{40, 18}, {66, 64}, {14, 64}};
    XSetForeground(display, gc, colours.sign);
    XFillPolygon(display, window, gc, sign, 3, Convex, CoordModeOrigin);
    XSetForeground(display, gc, black);
    XPoint outline[] = {{40, 18}, {66, 64}, {14, 64}, {40, 18}};
    XDrawLines(display, window, gc, outline, 4, CoordModeOrigin);
    XFillRectangle(display, window, gc, 38, 32, 4, 18);
    XFillRectangle(display, window, gc, 38, 54, 4, 4);

    drawText(display, window, gc, 84, 46, text);

    XSetForeground(display, gc, pressed ? colours.buttonPressed : colours.button);
    XFillRectangle(display, window, gc, kButtonX, kButtonY, kButtonWidth, kButtonHeight);
    XSetForeground(display, gc, black);
    XDrawRectangle(display, window, gc, kButtonX, kButtonY, kButtonWidth - 1, kButtonHeight - 1);
    drawText(display, window, gc, kButtonX + kButtonWidth / 2 - 6, kButtonY + 17, "OK");
    XFlush(display);
}

void setWindowManagerHints(Display* display, Window window, const char* caption) {
    XStoreName(display, window, caption);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(caption),
                    static_cast<int>(std::strlen(caption)));

    const Atom dialog = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_WINDOW_TYPE", False), XA_ATOM,
                    32, PropModeReplace, reinterpret_cast<const unsigned char*>(&dialog), 1);
    const Atom modal = XInternAtom(display, "_NET_WM_STATE_MODAL", False);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_STATE", False), XA_ATOM, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&modal), 1);

    // A fixed size: nothing in the box would use more room.
    XSizeHints* size = XAllocSizeHints();
    if (size) {
        size->flags = PMinSize | PMaxSize;
        size->min_width = size->max_width = kWidth;
        size->min_height = size->max_height = kHeight;
        XSetWMNormalHints(display, window, size);
        XFree(size);
    }
    XClassHint* classHint = XAllocClassHint();
    if (classHint) {
        char name[] = "orvane";
        char className[] = "Orvane";
        classHint->res_name = name;
        classHint->res_class = className;
        XSetClassHint(display, window, classHint);
        XFree(classHint);
    }
}

bool isDismissKey(XKeyEvent* key) {
    const KeySym sym = XLookupKeysym(key, 0);
    return sym == XK_Return || sym == XK_KP_Enter || sym == XK_space || sym == XK_Escape;
}

}  // namespace

void showWarningBox(const char* caption, const char* text) {
    // The box goes where the window is: the display GLUT opened (its
    // -display option included), not necessarily DISPLAY's. A connection of
    // its own keeps GLUT's events and resources apart.
    Display* glutDisplay = glXGetCurrentDisplay();
    Display* display = XOpenDisplay(glutDisplay ? DisplayString(glutDisplay) : nullptr);
    if (!display) return;
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    const int x = (DisplayWidth(display, screen) - kWidth) / 2;
    const int y = (DisplayHeight(display, screen) - kHeight) / 2;
    const Window window = XCreateSimpleWindow(display, root, x, y, kWidth, kHeight, 1,
                                              BlackPixel(display, screen),
                                              WhitePixel(display, screen));
    setWindowManagerHints(display, window, caption);
    Atom closeRequest = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &closeRequest, 1);
    XSelectInput(display, window,
                 ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask |
                     StructureNotifyMask);
    const GC gc = XCreateGC(display, window, 0, nullptr);
    const Colours colours = allocateColours(display);
    XMapRaised(display, window);

    bool pressed = false;
    bool destroyed = false;
    for (bool open = true; open;) {
        XEvent event;
        XNextEvent(display, &event);
        switch (event.type) {
            case MapNotify:
                XSetInputFocus(display, window, RevertToParent, CurrentTime);
                break;
            case Expose:
                if (event.xexpose.count == 0) paint(display, window, gc, colours, text, pressed);
                break;
            case KeyPress:
                open = !isDismissKey(&event.xkey);
                break;
            case ButtonPress:
                pressed = event.xbutton.button == Button1 &&
                          insideButton(event.xbutton.x, event.xbutton.y);
                paint(display, window, gc, colours, text, pressed);
                break;
            case ButtonRelease:
                open = !(pressed && insideButton(event.xbutton.x, event.xbutton.y));
                pressed = false;
                paint(display, window, gc, colours, text, pressed);
                break;
            case ClientMessage:
                open = static_cast<Atom>(event.xclient.data.l[0]) != closeRequest;
                break;
            case DestroyNotify:
                destroyed = true;
                open = false;
                break;
        }
    }
    XFreeGC(display, gc);
    if (!destroyed) XDestroyWindow(display, window);
    XCloseDisplay(display);
}
