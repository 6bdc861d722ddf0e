// Tones through the system's Beep.
#include "platform/tone_player.h"

#include <windows.h>

#include <chrono>
#include <mutex>
#include <thread>

namespace mub {

bool playTone(int hertz, int milliseconds) {
    if (milliseconds <= 0) return false;
    static std::mutex oneAtATime;
    std::lock_guard<std::mutex> guard(oneAtATime);

    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    // Beep takes 37..32767 Hz; the audible range of the Linux build is kept.
    const bool played = hertz >= 37 && hertz <= 20000 &&
                        ::Beep(static_cast<DWORD>(hertz), static_cast<DWORD>(milliseconds)) != FALSE;
    // Beep may return before the tone's length (without a speaker, or under
    // emulators); the caller still waits that long. The system's sleeps may
    // end a little early, so the clock decides.
    for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now())
        std::this_thread::sleep_for(end - now + std::chrono::milliseconds(1));
    return played;
}

} // namespace mub
