// Windows form of the window class: nothing to do, since Windows finds a
// program's icon through its executable.
#include "window_class.h"

void setWindowClass(const char*, const char*) {}
