// Ctrl+C, Ctrl+Break and the closing console window.
#include "tools/mubtool/stop_signals.h"

#include <windows.h>

#include <atomic>

namespace mub::tool {
namespace {

std::atomic<bool> stopRequest{false};
// Set once the output is finished; a closing console waits for it.
HANDLE finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
// Below the five seconds Windows gives a closing console's programs.
constexpr DWORD closeGraceMs = 4500;

BOOL WINAPI consoleControl(DWORD type) { return handleConsoleControl(type); }

} // namespace

int handleConsoleControl(unsigned long type) {
    if (type == CTRL_CLOSE_EVENT) {
        // Windows ends the program when this returns: the run gets the time
        // to stop and report its end.
        stopRequest.store(true);
        ::WaitForSingleObject(finished, closeGraceMs);
        return TRUE;
    }
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    // The first request is the run's to handle; a second one goes to the
    // system's handler, which ends the program.
    return stopRequest.exchange(true) ? FALSE : TRUE;
}

void catchStopSignals() {
    stopRequest.store(false);
    static const bool installed = ::SetConsoleCtrlHandler(consoleControl, TRUE) != FALSE;
    (void)installed;
}

bool stopSignalled() { return stopRequest.load(); }

void outputFinished() {
    if (finished) ::SetEvent(finished);
}

} // namespace mub::tool
