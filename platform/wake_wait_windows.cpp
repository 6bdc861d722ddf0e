#include "platform/wake_wait.h"

#include "platform/precise_timer_windows.h"

#include <atomic>

namespace mub {

struct WakeWait::State {
    // Auto-reset: the flag is the wake; the event only ends a sleep, and a
    // wait that ends on it takes it. Taking a wake is then no system call
    // (each costs a round trip to the server under Wine), and an event left
    // signalled by a wake taken meanwhile ends one later sleep early, which
    // sleepUntil allows.
    HANDLE wakeEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    // Auto-reset as well: set until a sleep ends on it.
    HANDLE interruptEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> woken{false};
    PreciseTimer timer;

    ~State() {
        if (wakeEvent) ::CloseHandle(wakeEvent);
        if (interruptEvent) ::CloseHandle(interruptEvent);
    }
};

WakeWait::WakeWait() : state_(std::make_unique<State>()) {}

WakeWait::~WakeWait() = default;

void WakeWait::wake() {
    state_->woken = true;
    if (state_->wakeEvent) ::SetEvent(state_->wakeEvent);
}

void WakeWait::interrupt() {
    if (state_->interruptEvent) ::SetEvent(state_->interruptEvent);
}

bool WakeWait::takeWake() { return state_->woken.exchange(false); }

void WakeWait::sleepUntil(Clock::time_point deadline, bool wakeable) {
    HANDLE handles[3];
    DWORD count = 0;
    if (state_->interruptEvent) handles[count++] = state_->interruptEvent;
    if (wakeable && state_->wakeEvent) handles[count++] = state_->wakeEvent;
    DWORD timeout = INFINITE;
    if (state_->timer.arm(deadline))
        handles[count++] = state_->timer.handle();
    else
        timeout = PreciseTimer::fallbackMilliseconds(deadline);
    if (count == 0) {
        ::Sleep(timeout);
        return;
    }
    ::WaitForMultipleObjects(count, handles, FALSE, timeout);
}

} // namespace mub
