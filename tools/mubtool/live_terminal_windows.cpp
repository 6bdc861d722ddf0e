#include "tools/mubtool/live_terminal.h"

#include <windows.h>

#include <io.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace mub::tool {
namespace {

HANDLE consoleOf(std::FILE* stream) {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return INVALID_HANDLE_VALUE;
    return handle;
}

} // namespace

bool liveTerminal(std::FILE* stream) {
    const HANDLE console = consoleOf(stream);
    if (console == INVALID_HANDLE_VALUE) return false;
    // Consoles before Windows 10 do not take escape sequences: plain lines there.
    DWORD mode = 0;
    ::GetConsoleMode(console, &mode);
    return ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != FALSE;
}

int terminalColumns(std::FILE* stream) {
    const HANDLE console = consoleOf(stream);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (console == INVALID_HANDLE_VALUE || !::GetConsoleScreenBufferInfo(console, &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

} // namespace mub::tool
