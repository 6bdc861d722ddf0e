// Ctrl+C, Ctrl+Break and the closing console window.
#include "tools/mubtool/stop_signals.h"

#include <windows.h>

#include <atomic>

namespace mub::tool {
namespace {

std::atomic<bool> stopRequest{false};

BOOL WINAPI handleConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    // The first request is the run's to handle; a second one goes to the
    // system's handler, which ends the program.
    return stopRequest.exchange(true) ? FALSE : TRUE;
}

} // namespace

void catchStopSignals() {
    stopRequest.store(false);
    static const bool installed = ::SetConsoleCtrlHandler(handleConsoleControl, TRUE) != FALSE;
    (void)installed;
}

bool stopSignalled() { return stopRequest.load(); }

} // namespace mub::tool
