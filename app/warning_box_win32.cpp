// Windows form of the warning box: the system's message box.
#include <windows.h>

#include "warning_box.h"

void showWarningBox(const char* caption, const char* text) {
    MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONWARNING);
}

const char* pictureHelp() {
    // Unpacked beside orvane.exe from the zip.
    return "see README-windows.txt";
}
