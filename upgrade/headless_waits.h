// The waits of a front end without a window (`mubtool upgrade` and
// `detect`, each port of a station): the time-out tick on the steady clock,
// pauses by the front ends' common rule, and a stop that runs onStop nested
// inside the pause under way, the way a Stop click does.
//
// A pause sleeps through to its end: whoever asks for a stop also calls
// interrupt (a station's end, the thread that sees a Ctrl+C), and a stop
// that comes at a known moment is given as stopDeadline. Nothing wakes up
// just to look at the stop.
#pragma once

#include "platform/event_pause.h"
#include "platform/waits.h"
#include "platform/wake_wait.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace mub {

class HeadlessWaits : public Waits {
public:
    using Clock = std::chrono::steady_clock;
    // `stopAsked` tells whether a stop is asked for (Ctrl+C, a station's
    // end); it is looked at when a pause begins and at an interrupt.
    explicit HeadlessWaits(std::function<bool()> stopAsked);

    void armTimeout(int milliseconds) override;
    bool timeoutElapsed() const override;
    void clearTimeoutElapsed() override;
    std::uint32_t tickCount() const override;
    void pumpDelay(std::int32_t microseconds) override;
    void pumpWait(std::int32_t microseconds) override;
    void pumpWaitAfter(std::int32_t pauseMicroseconds, std::int32_t microseconds) override;
    void wake() override;

    // Run once, nested in the pause under way, when a stop is asked for;
    // the pause then ends: nobody waits for it any more.
    std::function<void()> onStop;
    // A stop was asked for or handled during this operation.
    bool stopRequested() const { return stopDelivered_ || stopDue(); }
    bool stopDelivered() const { return stopDelivered_; }
    // Runs onStop once when a stop is asked for and was not handled yet.
    void deliverStop();
    // A new operation: a stop may be asked for again.
    void rearmStop() { stopDelivered_ = false; }
    // From any thread, once a stop is asked for: the pause under way (or
    // the next one) looks at it now.
    void interrupt() { wakes_.interrupt(); }
    // The end of a bounded wait: from then on a stop is asked for, and no
    // pause sleeps past it. None: only stopAsked and an interrupt.
    void setStopDeadline(std::optional<Clock::time_point> deadline) { stopDeadline_ = deadline; }
    // Pauses `length`, handling a stop as soon as it comes (within a few
    // milliseconds); ends early once a stop was handled.
    void pause(Clock::duration length);

private:
    // A pause's events are the stop; its wait ends at an interrupt or the
    // stop's deadline. A plain pause ends once a stop was handled; a
    // wakeable one (a read) waits on for its bytes, as the reader decides
    // about the stop itself.
    class Pauses : public PauseHost {
    public:
        Pauses(HeadlessWaits& waits, bool endsAtStop) : waits_(waits), endsAtStop_(endsAtStop) {}
        void handleEvents() override { waits_.deliverStop(); }
        void waitForEvents(Clock::time_point deadline, bool wakeable) override;
        bool takeWake() override { return waits_.wakes_.takeWake(); }
        bool abandoned() override { return endsAtStop_ && waits_.stopDelivered_; }

    private:
        HeadlessWaits& waits_;
        bool endsAtStop_;
    };
    void pause(std::chrono::microseconds length, bool wakeable,
               std::chrono::microseconds floor = std::chrono::microseconds::zero());
    bool stopDue() const { return stopAsked_() || (stopDeadline_ && Clock::now() >= *stopDeadline_); }

    std::function<bool()> stopAsked_;
    bool stopDelivered_ = false;
    std::optional<Clock::time_point> stopDeadline_;
    Clock::time_point start_;
    Clock::time_point timeoutDeadline_;
    Clock::duration timeoutInterval_{};
    bool timeoutArmed_ = false;
    WakeWait wakes_;
};

} // namespace mub
