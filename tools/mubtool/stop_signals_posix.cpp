#include "tools/mubtool/stop_signals.h"

#include <csignal>

namespace mub::tool {

namespace {
volatile std::sig_atomic_t stopSignal = 0;

void handleStopSignal(int) { stopSignal = 1; }
} // namespace

void catchStopSignals() {
    stopSignal = 0;
    struct sigaction action {};
    action.sa_handler = handleStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a question waiting on the terminal returns at once.
    // SA_RESETHAND: a second Ctrl+C ends the program the usual way.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader of stdout or stderr that goes away must not end the program
    // halfway through writing the machine: its output is dropped instead.
    std::signal(SIGPIPE, SIG_IGN);
}

bool stopSignalled() { return stopSignal != 0; }

void outputFinished() {}

} // namespace mub::tool
