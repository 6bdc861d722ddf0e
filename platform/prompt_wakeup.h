// Asks the system to wake the calling thread promptly, for the rest of its
// life: a thread that waits a fraction of a millisecond for a byte or a
// deadline, two or three times a block, loses the line's time on every late
// wake-up.
//
// On Linux two things make a wake-up late. A timed sleep ends up to its
// timer slack after the deadline (50 microseconds by default): the slack is
// set to the least there is. And while other work keeps the cores busy, a
// thread that wakes or gives way waits for the running task's time slice to
// end (up to a scheduler tick, 4 ms): the thread asks for short slices
// (0.1 ms, Linux 6.12 and later), which the scheduler answers by letting it
// run first when it wakes. Neither needs any privilege; a system that knows
// neither just keeps its defaults.
//
// On Windows a thread woken by an event or a completed I/O gets a priority
// boost, and the precise waits use high-resolution timers that have no
// slack: nothing to ask for.
#pragma once

namespace mub {

void askForPromptWakeups();

} // namespace mub
