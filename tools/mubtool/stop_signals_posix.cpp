#include "tools/mubtool/stop_signals.h"

#include <csignal>
#include <mutex>
#include <semaphore.h>
#include <thread>

namespace mub::tool {

namespace {
volatile std::sig_atomic_t stopSignal = 0;

// The signal handler may only post a semaphore; a thread of its own waits
// for it and runs the action.
sem_t& stopPosted() {
    static sem_t* semaphore = [] {
        auto* s = new sem_t;
        sem_init(s, 0, 0);
        return s;
    }();
    return *semaphore;
}

std::mutex& actionLock() {
    static std::mutex lock;
    return lock;
}

std::function<void()>& stopAction() {
    static auto* action = new std::function<void()>;
    return *action;
}

void handleStopSignal(int) {
    stopSignal = 1;
    sem_post(&stopPosted());
}

void runActionsOnStop() {
    for (;;) {
        while (sem_wait(&stopPosted()) != 0) {
        }
        std::lock_guard<std::mutex> guard(actionLock());
        if (stopAction()) stopAction()();
    }
}
} // namespace

void catchStopSignals() {
    stopPosted();
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

void onStopSignal(std::function<void()> action) {
    stopPosted();
    static const bool watching = [] {
        std::thread(runActionsOnStop).detach();
        return true;
    }();
    (void)watching;
    std::lock_guard<std::mutex> guard(actionLock());
    stopAction() = std::move(action);
}

void outputFinished() {}

} // namespace mub::tool
