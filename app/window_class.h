// The window's class, which desktops match against the menu entry to find
// its icon; one form per platform.
#pragma once

// Gives the current GL window the class `name`/`className`. Call right after
// glutCreateWindow.
void setWindowClass(const char* name, const char* className);
