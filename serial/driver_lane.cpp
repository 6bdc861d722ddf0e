#include "serial/driver_lane.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <system_error>

namespace mub {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<std::size_t> lanesStuck{0};
std::atomic<std::size_t> lanesHeld{0};

// A caller looks this long for its call to end before it sleeps: most end
// in a few microseconds once the lane has woken, and a caller put to sleep
// costs another wake-up (a window's request waits on it before each block).
constexpr auto spinBeforeSleep = std::chrono::microseconds(100);

} // namespace

std::size_t stuckDriverLanes() { return lanesStuck.load(); }
std::size_t heldDriverLanes() { return lanesHeld.load(); }

// What the lane's thread and its callers share. A lane a driver holds
// beyond its bound is left to it with all of this: the thread (and its
// stack), the call in the driver, the calls queued behind it (the port's
// close) and the captures they own. They are freed when the driver returns
// the call, for the rest of the process if it never does; until then the
// port stays open (a new open of it is refused, as a held port is), and the
// services the calls go to must live as long (the system's do).
struct DriverLane::State {
    struct Job {
        const char* name;
        std::function<void()> work;
        std::atomic<bool> done{false};
    };
    explicit State(int bound) : boundMs(bound) {}

    const int boundMs;
    std::mutex lock;
    std::condition_variable changed; // a job queued or done, the owner gone, the thread ended
    std::deque<std::shared_ptr<Job>> queue;
    bool started = false;
    bool stuck = false;
    const char* stuckCall = nullptr;
    bool ownerGone = false; // the thread ends once the queue is empty
    bool ended = false;
    // The watched call in progress on its caller's thread.
    const char* watchedCall = nullptr;
    Clock::time_point watchedSince;
    std::function<void()> onWatchedStuck;
    bool telling = false; // onWatchedStuck runs: its caller does not leave meanwhile

    void giveUp(const char* call) {
        stuck = true;
        stuckCall = call;
        ++lanesStuck;
        ++lanesHeld;
    }

    // A watched call past its bound gives the lane up; the lane tells.
    void checkWatch(std::unique_lock<std::mutex>& guard) {
        if (!watchedCall || stuck || Clock::now() - watchedSince < std::chrono::milliseconds(boundMs)) return;
        giveUp(watchedCall);
        if (!onWatchedStuck) return;
        const std::function<void()> tell = onWatchedStuck;
        telling = true;
        guard.unlock();
        tell();
        guard.lock();
        telling = false;
        changed.notify_all();
    }

    void serve() {
        // While a watched call may be under way the lane looks at it twice
        // a bound: one that hangs is given up within one and a half.
        const auto tick = std::chrono::milliseconds(boundMs / 2 > 0 ? boundMs / 2 : 1);
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            changed.wait_for(guard, tick, [&] { return !queue.empty() || ownerGone; });
            checkWatch(guard);
            if (queue.empty()) {
                if (ownerGone) break;
                continue;
            }
            std::shared_ptr<Job> job = queue.front();
            guard.unlock();
            job->work();
            job->work = nullptr; // what it owns goes here, not on a caller's thread
            guard.lock();
            queue.pop_front();
            job->done.store(true);
            changed.notify_all();
        }
        if (stuck) --lanesHeld; // the driver let go at last
        ended = true;
        changed.notify_all();
    }
};

DriverLane::DriverLane(int boundMs) : boundMs_(boundMs), state_(std::make_shared<State>(boundMs)) {}

DriverLane::~DriverLane() {
    if (!thread_.joinable()) return;
    State& s = *state_;
    std::unique_lock<std::mutex> guard(s.lock);
    s.ownerGone = true;
    s.changed.notify_all();
    // The port's close may still be under way; a lane given up is not waited for.
    const bool ended =
        !s.stuck && s.changed.wait_for(guard, std::chrono::milliseconds(boundMs_), [&] { return s.ended; });
    if (!ended && !s.stuck) s.giveUp(s.queue.empty() ? "CloseHandle" : s.queue.front()->name);
    guard.unlock();
    // Joining a thread a driver holds would hold this one as long: it is
    // left to end by itself, with what it shares (see State).
    if (ended)
        thread_.join();
    else
        thread_.detach();
}

bool DriverLane::start(int& code, std::function<void()> prepare, std::function<void()> onWatchedStuck) {
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->onWatchedStuck = std::move(onWatchedStuck);
    }
    try {
        thread_ = std::thread([state = state_, prepare = std::move(prepare)] {
            if (prepare) prepare();
            state->serve();
        });
    } catch (const std::system_error& e) {
        code = e.code().value();
        return false;
    }
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->started = true;
    return true;
}

bool DriverLane::stuck() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->stuck;
}

const char* DriverLane::stuckCall() const {
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->stuckCall;
}

bool DriverLane::last(const char* name, std::function<void()> work) { return run(name, std::move(work), true); }

bool DriverLane::beginWatch(const char* name) {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (state_->stuck) return false;
    if (!state_->started) return true; // nobody to watch: called as it is
    state_->watchedCall = name;
    state_->watchedSince = Clock::now();
    return true;
}

bool DriverLane::endWatch() {
    State& s = *state_;
    std::unique_lock<std::mutex> guard(s.lock);
    s.watchedCall = nullptr;
    s.changed.wait(guard, [&] { return !s.telling; });
    return !s.stuck;
}

bool DriverLane::run(const char* name, std::function<void()> work, bool queueWhenStuck) {
    State& s = *state_;
    auto job = std::make_shared<State::Job>();
    job->name = name;
    job->work = std::move(work);
    std::unique_lock<std::mutex> guard(s.lock);
    if (!s.started) {
        // No thread (the port failed to start one): nowhere else to call.
        guard.unlock();
        job->work();
        return true;
    }
    if (s.stuck) {
        if (queueWhenStuck) {
            s.queue.push_back(std::move(job));
            s.changed.notify_all();
        }
        return false;
    }
    s.queue.push_back(job);
    s.changed.notify_all();
    guard.unlock();
    const auto spinUntil = Clock::now() + spinBeforeSleep;
    while (!job->done.load() && Clock::now() < spinUntil) std::this_thread::yield();
    guard.lock();
    if (s.changed.wait_for(guard, std::chrono::milliseconds(boundMs_), [&] { return job->done.load() || s.stuck; }) &&
        job->done.load())
        return true;
    if (s.stuck) return false; // given up meanwhile, by another call or the watch
    // The call in the driver: this one, or one queued before it.
    s.giveUp(s.queue.front()->name);
    return false;
}

} // namespace mub
