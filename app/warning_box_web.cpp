// Browser form of the warning box: the page's own dialog, awaited through
// Asyncify, so that main goes on only once OK has been pressed.
#include <emscripten.h>

#include "warning_box.h"

namespace {

// The page hands in warningBox(caption, text), a promise settled by OK.
// Emscripten 3.1.6 drops the value a main that has slept returns, so it is
// passed on to exit here, as the runtime does for a main that never sleeps.
EM_ASYNC_JS(void, waitForWarningBox, (const char* caption, const char* text), {
    const box = Module["warningBox"];
    if (box) await box(UTF8ToString(caption), UTF8ToString(text));
    Asyncify.whenDone().then((status) => {
        try {
            exit(status, true);
        } catch (e) {
            if (!(e instanceof ExitStatus)) throw e;  // exit's own way of stopping
        }
    });
});

}  // namespace

void showWarningBox(const char* caption, const char* text) {
    waitForWarningBox(caption, text);
}

const char* pictureHelp() {
    return "see \"Your own pictures\" on this page";
}
