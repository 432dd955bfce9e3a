// The start-up warning box, one form per platform.
#pragma once

// Shows a modal warning with `text`, the title `caption` and one OK button,
// and returns once the user has dismissed it.
void showWarningBox(const char* caption, const char* text);

// Where a person whose picture was refused learns how to make one: words
// naming a document that this platform's copy of the program comes with.
const char* pictureHelp();
