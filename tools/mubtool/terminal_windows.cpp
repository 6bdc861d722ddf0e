#include "tools/mubtool/terminal.h"

#include <windows.h>

namespace mub::tool {
namespace {

bool isConsole(DWORD which) {
    HANDLE h = ::GetStdHandle(which);
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && h != nullptr && ::GetConsoleMode(h, &mode) != FALSE;
}

// Taken before wmain runs, before the entry replaces the output handles.
const bool consoles[3] = {isConsole(STD_INPUT_HANDLE), isConsole(STD_OUTPUT_HANDLE), isConsole(STD_ERROR_HANDLE)};

} // namespace

bool isTerminal(int fd) { return fd >= 0 && fd <= 2 && consoles[fd]; }

} // namespace mub::tool
