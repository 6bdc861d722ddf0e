#include "platform/wake_wait.h"

#include <condition_variable>
#include <mutex>

namespace mub {

struct WakeWait::State {
    std::mutex lock;
    std::condition_variable changed;
    bool woken = false;
    bool interrupted = false;
};

WakeWait::WakeWait() : state_(std::make_unique<State>()) {}

WakeWait::~WakeWait() = default;

void WakeWait::wake() {
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->woken = true;
    }
    state_->changed.notify_all();
}

void WakeWait::interrupt() {
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->interrupted = true;
    }
    state_->changed.notify_all();
}

bool WakeWait::takeWake() {
    std::lock_guard<std::mutex> guard(state_->lock);
    const bool woken = state_->woken;
    state_->woken = false;
    return woken;
}

void WakeWait::sleepUntil(Clock::time_point deadline, bool wakeable) {
    std::unique_lock<std::mutex> guard(state_->lock);
    state_->changed.wait_until(guard, deadline, [&] { return state_->interrupted || (wakeable && state_->woken); });
    state_->interrupted = false;
}

} // namespace mub
