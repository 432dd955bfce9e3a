// Browser form of the window class: a canvas has none to set.
#include "window_class.h"

void setWindowClass(const char*, const char*) {}
