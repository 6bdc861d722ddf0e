// The one rule behind every front end's pumpDelay and pumpWait: a pause
// lasts at least what it asks for and handles the window's events
// meanwhile (a Stop click or F8 runs nested inside), and a pause that may be
// woken ends as soon as the wake comes.
//
// - Under a millisecond (the link's 10 microseconds between two steps): the
//   waiting events are handled, then the rest of the time is watched on the
//   clock. A sleep on the system timer would last far longer than asked
//   (tens of microseconds on Linux, a whole millisecond or 15.6 ms on
//   Windows), twice per block; giving way to other threads costs their
//   whole time slice when the cores are busy.
// - A millisecond or more: the thread sleeps in the front end's wait for an
//   event, the wake or the deadline, and handles each event as it comes. The
//   last fraction of a millisecond is again watched on the clock.
//
// A pause does not look for events at its start when this thread handled
// them a moment ago (see PauseHost::eventsHandledAt): between an
// acknowledgement and the next block the run pauses within microseconds of
// the wait that saw the acknowledgement, and each look is a pass through the
// window system. Events that come meanwhile are handled by the next pause
// that looks, or by this one once that moment is over before its time is;
// a pause that waits handles each event as it comes.
//
// A wakeable pause may have a floor (the poll pause before a read, folded
// into the read's wait): until the wake it sleeps like any wakeable pause,
// and a wake that comes before the floor is over ends it at the floor,
// watched on the clock as above. Pausing the floor and then waiting would
// watch the clock for the whole floor every time, with the reply
// milliseconds away.
//
// What an event, a wait and a wake are is the front end's; the rule is here
// once.
#pragma once

#include <chrono>

namespace mub {

class PauseHost {
public:
    using Clock = std::chrono::steady_clock;
    virtual ~PauseHost() = default;
    // Handles every event waiting now; does not block.
    virtual void handleEvents() = 0;
    // Sleeps until an event comes, the deadline passes or (`wakeable`) a
    // wake comes; may return earlier.
    virtual void waitForEvents(Clock::time_point deadline, bool wakeable) = 0;
    // True when a wake came since the last call; takes it.
    virtual bool takeWake() = 0;
    // True when the pause is to end at once: nobody waits for it any more
    // (a stop was handled inside it).
    virtual bool abandoned() { return false; }
    // Where the front end keeps when this thread last handled its events
    // (kept across pauses, one per thread); none: every pause looks at its
    // start.
    virtual Clock::time_point* eventsHandledAt() { return nullptr; }
};

// Pauses at least `length` by the rule above, with `host`'s events, waits
// and wakes; a `wakeable` pause also ends at a wake, one that came before
// the pause began included, but not before `floor` (at most `length`).
void pauseHandlingEvents(PauseHost& host, std::chrono::microseconds length, bool wakeable,
                         std::chrono::microseconds floor = std::chrono::microseconds::zero());

} // namespace mub
