// The waits of connecting, upgrading and model checking: pauses that keep
// the front end alive, the clock and the time-out tick. A window pauses
// while it handles its events (so Stop runs nested inside a pause); a front
// end without a window pauses while it watches for its stop.
#pragma once

#include <cstdint>

namespace mub {

class Waits {
public:
    virtual ~Waits() = default;

    // The time-out tick: arming (re)starts it with the interval; after the
    // interval `timeoutElapsed` reads true until cleared.
    virtual void armTimeout(int milliseconds) = 0;
    virtual bool timeoutElapsed() const = 0;
    virtual void clearTimeoutElapsed() = 0;

    // Milliseconds since some fixed point, wrapping at 32 bits.
    virtual std::uint32_t tickCount() const = 0;

    // Pauses at least `microseconds` while the front end keeps handling its
    // events (a Stop runs nested inside). Never returns early.
    virtual void pumpDelay(std::int32_t microseconds) = 0;

    // Like pumpDelay, but returns as soon as wake() has been called (from any
    // thread) since the previous pumpWait returned. Used by receive loops so
    // that arriving bytes are seen without waiting out the tick.
    virtual void pumpWait(std::int32_t microseconds) { pumpDelay(microseconds); }
    // pumpDelay(pauseMicroseconds) followed by pumpWait(microseconds), in
    // effect: it never returns before the pause is over, and a wake that
    // came meanwhile ends it then. A front end that sleeps in its waits
    // sleeps through the pause too, instead of watching the clock for it.
    virtual void pumpWaitAfter(std::int32_t pauseMicroseconds, std::int32_t microseconds) {
        pumpDelay(pauseMicroseconds);
        pumpWait(microseconds);
    }
    virtual void wake() {}
};

} // namespace mub
