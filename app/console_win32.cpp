// The Windows program is built for the GUI subsystem, so a double-click opens
// no console. Started from a console (cmd), it still says there why a
// picture was refused: before main runs, standard error is tied to the
// parent's console, unless it was redirected (orvane.exe 2> log.txt), which
// stays as it is.
#include <windows.h>

#include <cstdio>

namespace {

bool attachParentConsole() {
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode;
    // A file, a pipe or NUL: whoever started the program chose it.
    if (err && err != INVALID_HANDLE_VALUE && GetFileType(err) != FILE_TYPE_UNKNOWN &&
        !GetConsoleMode(err, &mode))
        return false;
    // Wine attaches a GUI program to its parent's console by itself, which
    // AttachConsole answers with ERROR_ACCESS_DENIED.
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED)
        return false;  // no console to show it in
    if (!std::freopen("CONOUT$", "w", stderr)) return false;
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    return true;
}

[[maybe_unused]] const bool consoleAttached = attachParentConsole();

}  // namespace
