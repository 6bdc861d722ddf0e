// The blocking calls into one port's driver (its state and errors, the line
// settings, purge, close, ...), each with a bound. A USB-serial driver may
// never return such a call; made on the thread of the window, of Stop or of
// the station's port, it would hold that thread for good. So those callers
// hand their calls to a thread of the port's own, the lane, and stop waiting
// at the bound. The port's listener, whose hang stops nothing else, makes
// its calls itself, watched by the lane. Either way a call that outlives its
// bound gives the port up, and everything else goes on. Internal to the
// serial library.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace mub {

// How long a driver call may take before its port is given up. Such calls
// end in microseconds; a driver that has not answered in a second is hung.
inline constexpr int driverCallBoundMs = 1000;

// Lanes whose thread a driver holds beyond its bound, since the start of the
// process, and how many of them are still held.
std::size_t stuckDriverLanes();
std::size_t heldDriverLanes();

class DriverLane {
public:
    explicit DriverLane(int boundMs = driverCallBoundMs);
    // Ends the thread once its calls are done, waiting at most the bound; a
    // thread a driver holds is left to it (see the .cpp).
    ~DriverLane();
    DriverLane(const DriverLane&) = delete;
    DriverLane& operator=(const DriverLane&) = delete;

    // Starts the thread, which runs `prepare` first; false with the
    // system's code when no thread can be had. `onWatchedStuck` runs on the
    // lane's thread when a watched call outlives its bound (the caller is
    // still in the driver and cannot tell).
    bool start(int& code, std::function<void()> prepare = {}, std::function<void()> onWatchedStuck = {});

    // Runs `call` (int(Value&): a system code, the value it fills) on the
    // lane and waits for it: the code and the value, or nothing when the
    // port is given up, by this call or an earlier one. `call` must own what
    // it uses: it may run after the caller has stopped waiting.
    template <typename Value, typename Call> std::optional<std::pair<int, Value>> call(const char* name, Call work);
    // The same for a call that fills nothing.
    template <typename Call> std::optional<int> call(const char* name, Call work) {
        auto answer = this->call<char>(name, [work = std::move(work)](char&) mutable { return work(); });
        if (!answer) return std::nullopt;
        return answer->first;
    }
    // Runs `work` (int(Value&)) on the calling thread while the lane
    // watches the time it takes; nothing when the port is given up, before
    // the call or while it ran. For one thread at a time: the listener.
    template <typename Value, typename Call> std::optional<std::pair<int, Value>> watched(const char* name, Call work);
    // The port's last call (its close): waited for as `call`, but queued even
    // on a lane given up, so that it still runs if the driver ever returns.
    // True when it ran within the bound.
    bool last(const char* name, std::function<void()> work);

    bool stuck() const;
    // The call the driver held when the lane was given up (a literal); null
    // while it is not.
    const char* stuckCall() const;

private:
    struct State;
    // True when the job ended within the bound; `queueWhenStuck` queues it
    // without waiting on a lane given up.
    bool run(const char* name, std::function<void()> job, bool queueWhenStuck);
    bool beginWatch(const char* name); // false on a lane given up
    bool endWatch();                   // false when the lane was given up meanwhile

    const int boundMs_;
    std::shared_ptr<State> state_; // shared with the thread, which may outlive the lane
    std::thread thread_;
};

template <typename Value, typename Call>
std::optional<std::pair<int, Value>> DriverLane::call(const char* name, Call work) {
    // Shared with the job: a call given up writes into it, not into the
    // caller's frame that is gone by then.
    auto answer = std::make_shared<std::pair<int, Value>>();
    if (!run(name, [answer, work = std::move(work)]() mutable { answer->first = work(answer->second); }, false))
        return std::nullopt;
    return *answer;
}

template <typename Value, typename Call>
std::optional<std::pair<int, Value>> DriverLane::watched(const char* name, Call work) {
    if (!beginWatch(name)) return std::nullopt;
    std::pair<int, Value> answer{};
    answer.first = work(answer.second);
    if (!endWatch()) return std::nullopt;
    return answer;
}

} // namespace mub
