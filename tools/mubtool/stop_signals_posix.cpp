#include "tools/mubtool/stop_signals.h"

#include <atomic>
#include <csignal>
#include <mutex>
#include <pthread.h>
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

// The thread that runs the action; it ends when the action is cleared, so
// that no thread of it outlives the run.
std::thread& watcher() {
    static auto* thread = new std::thread;
    return *thread;
}

std::atomic<bool>& watcherToEnd() {
    static std::atomic<bool> end{false};
    return end;
}

void runActionsOnStop() {
    // The signals go to the other threads: a handler that ran here would
    // wait for the semaphore to be posted (a sanitizer runs handlers only
    // once the thread has left its wait).
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    for (;;) {
        while (sem_wait(&stopPosted()) != 0) {
        }
        if (watcherToEnd().load()) return;
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
    const bool wanted = static_cast<bool>(action);
    {
        std::lock_guard<std::mutex> guard(actionLock());
        stopAction() = std::move(action);
    }
    if (wanted && !watcher().joinable()) {
        watcherToEnd() = false;
        watcher() = std::thread(runActionsOnStop);
    } else if (!wanted && watcher().joinable()) {
        watcherToEnd() = true;
        sem_post(&stopPosted());
        watcher().join();
    }
}

void outputFinished() {}

} // namespace mub::tool
