// Tones through the sound device: the beeps that mark a file opened, a
// machine identified and an upgrade completed.
#pragma once

#include <thread>

namespace mub {

// Plays a sine tone of `hertz` for `milliseconds` on the default ALSA output
// and returns when it has been heard. Without a sound device (no ALSA
// library, no card, the device busy or failing) the duration is simply
// waited out, so callers always block for the tone's length and never
// longer than about a second beyond it. Frequencies outside 20..20000 Hz
// are silent waits. Tones from several threads play one after another.
// Returns true when the tone went to a device.
bool playTone(int hertz, int milliseconds);

// The same tone on a thread of its own; returns at once. A window plays its
// tones this way and waits their length while it handles its events, so a
// close or a Stop during a tone is handled at once.
inline void startTone(int hertz, int milliseconds) {
    std::thread([hertz, milliseconds] { playTone(hertz, milliseconds); }).detach();
}

} // namespace mub
