// Ctrl+C, Ctrl+Break and the closing console window.
#include "tools/mubtool/stop_signals.h"

#include <windows.h>

#include <atomic>
#include <mutex>

namespace mub::tool {
namespace {

std::atomic<bool> stopRequest{false};
// Set once the output is finished; a closing console waits for it.
HANDLE finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
// Below the five seconds Windows gives a closing console's programs.
constexpr DWORD closeGraceMs = 4500;

std::mutex actionLock;
std::function<void()> stopAction;

// The console's handler runs on a thread of its own: the action runs there.
void runStopAction() {
    std::lock_guard<std::mutex> guard(actionLock);
    if (stopAction) stopAction();
}

BOOL WINAPI consoleControl(DWORD type) { return handleConsoleControl(type); }

} // namespace

int handleConsoleControl(unsigned long type) {
    if (type == CTRL_CLOSE_EVENT) {
        // Windows ends the program when this returns: the run gets the time
        // to stop and report its end.
        stopRequest.store(true);
        runStopAction();
        ::WaitForSingleObject(finished, closeGraceMs);
        return TRUE;
    }
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    // The first request is the run's to handle; a second one goes to the
    // system's handler, which ends the program.
    if (stopRequest.exchange(true)) return FALSE;
    runStopAction();
    return TRUE;
}

void catchStopSignals() {
    stopRequest.store(false);
    static const bool installed = ::SetConsoleCtrlHandler(consoleControl, TRUE) != FALSE;
    (void)installed;
}

bool stopSignalled() { return stopRequest.load(); }

void onStopSignal(std::function<void()> action) {
    std::lock_guard<std::mutex> guard(actionLock);
    stopAction = std::move(action);
}

void outputFinished() {
    if (finished) ::SetEvent(finished);
}

} // namespace mub::tool
