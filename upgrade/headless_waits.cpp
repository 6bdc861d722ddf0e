#include "upgrade/headless_waits.h"

#include <algorithm>
#include <utility>

namespace mub {

HeadlessWaits::HeadlessWaits(std::function<bool()> stopAsked) : stopAsked_(std::move(stopAsked)), start_(Clock::now()) {
    if (!stopAsked_) stopAsked_ = [] { return false; };
}

void HeadlessWaits::armTimeout(int milliseconds) {
    timeoutInterval_ = std::chrono::milliseconds(milliseconds);
    timeoutDeadline_ = Clock::now() + timeoutInterval_;
    timeoutArmed_ = true;
}

bool HeadlessWaits::timeoutElapsed() const { return timeoutArmed_ && Clock::now() >= timeoutDeadline_; }

void HeadlessWaits::clearTimeoutElapsed() {
    // A ticking timer: once cleared, the flag rises again one interval after
    // the tick that set it.
    if (!timeoutArmed_) return;
    const auto now = Clock::now();
    if (now < timeoutDeadline_) return;
    if (timeoutInterval_ <= Clock::duration::zero()) {
        timeoutDeadline_ = now;
        return;
    }
    while (timeoutDeadline_ <= now) timeoutDeadline_ += timeoutInterval_;
}

std::uint32_t HeadlessWaits::tickCount() const {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    return static_cast<std::uint32_t>(ms);
}

void HeadlessWaits::pause(Clock::duration length) {
    pause(std::chrono::ceil<std::chrono::microseconds>(length), false);
}

void HeadlessWaits::pause(std::chrono::microseconds length, bool wakeable, std::chrono::microseconds floor) {
    Pauses pauses(*this, !wakeable);
    pauseHandlingEvents(pauses, length, wakeable, floor);
}

void HeadlessWaits::Pauses::waitForEvents(Clock::time_point deadline, bool wakeable) {
    // Once the stop is handled its deadline is over: a read waits on.
    if (waits_.stopDeadline_ && !waits_.stopDelivered_ && *waits_.stopDeadline_ > Clock::now())
        deadline = std::min(deadline, *waits_.stopDeadline_);
    waits_.wakes_.sleepUntil(deadline, wakeable);
}

void HeadlessWaits::deliverStop() {
    if (!stopDelivered_ && stopDue()) {
        stopDelivered_ = true;
        if (onStop) onStop();
    }
}

void HeadlessWaits::pumpDelay(std::int32_t microseconds) { pause(std::chrono::microseconds(microseconds), false); }

void HeadlessWaits::pumpWait(std::int32_t microseconds) { pause(std::chrono::microseconds(microseconds), true); }

void HeadlessWaits::pumpWaitAfter(std::int32_t pauseMicroseconds, std::int32_t microseconds) {
    const std::chrono::microseconds floor(pauseMicroseconds);
    pause(floor + std::chrono::microseconds(microseconds), true, floor);
}

void HeadlessWaits::wake() { wakes_.wake(); }

} // namespace mub
