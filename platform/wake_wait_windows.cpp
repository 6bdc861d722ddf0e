#include "platform/wake_wait.h"

#include "platform/precise_timer_windows.h"

#include <atomic>

namespace mub {

struct WakeWait::State {
    HANDLE wakeEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); // manual reset
    std::atomic<bool> woken{false};
    PreciseTimer timer;

    ~State() {
        if (wakeEvent) ::CloseHandle(wakeEvent);
    }
};

WakeWait::WakeWait() : state_(std::make_unique<State>()) {}

WakeWait::~WakeWait() = default;

void WakeWait::wake() {
    state_->woken = true;
    if (state_->wakeEvent) ::SetEvent(state_->wakeEvent);
}

bool WakeWait::takeWake() {
    // The event first: a wake that comes between the two leaves the flag
    // set and the event signalled, so it is neither lost nor taken twice.
    if (state_->wakeEvent) ::ResetEvent(state_->wakeEvent);
    return state_->woken.exchange(false);
}

void WakeWait::sleepUntil(Clock::time_point deadline, bool wakeable) {
    HANDLE handles[2];
    DWORD count = 0;
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
