#include "platform/tone_player.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <dlfcn.h>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

namespace mub {
namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned sampleRate = 48000;
constexpr unsigned latencyMicros = 50000;
constexpr double amplitude = 0.3 * 32767;
constexpr double fadeSeconds = 0.005; // ramps against clicks at start and end
constexpr auto grace = std::chrono::milliseconds(1000);

// The few ALSA calls the player needs, loaded at run time so the program
// runs (silently) where the library is missing.
struct Alsa {
    decltype(&snd_pcm_open) open = nullptr;
    decltype(&snd_pcm_set_params) setParams = nullptr;
    decltype(&snd_pcm_writei) writei = nullptr;
    decltype(&snd_pcm_wait) wait = nullptr;
    decltype(&snd_pcm_recover) recover = nullptr;
    decltype(&snd_pcm_delay) delay = nullptr;
    decltype(&snd_pcm_drop) drop = nullptr;
    decltype(&snd_pcm_close) close = nullptr;
    bool usable = false;
};

// ALSA reports a missing card on stderr; a program without sound is normal.
void quietErrorHandler(const char*, int, const char*, int, const char*, ...) {}

template <typename F> bool bind(void* library, const char* name, F& target) {
    target = reinterpret_cast<F>(::dlsym(library, name));
    return target != nullptr;
}

Alsa loadAlsa() {
    Alsa alsa;
    void* library = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return alsa;
    decltype(&snd_lib_error_set_handler) setErrorHandler = nullptr;
    bool ok = bind(library, "snd_pcm_open", alsa.open) && bind(library, "snd_pcm_set_params", alsa.setParams) &&
              bind(library, "snd_pcm_writei", alsa.writei) && bind(library, "snd_pcm_wait", alsa.wait) &&
              bind(library, "snd_pcm_recover", alsa.recover) && bind(library, "snd_pcm_delay", alsa.delay) &&
              bind(library, "snd_pcm_drop", alsa.drop) && bind(library, "snd_pcm_close", alsa.close) &&
              bind(library, "snd_lib_error_set_handler", setErrorHandler);
    if (!ok) return alsa; // the library stays loaded; it is tiny and harmless
    setErrorHandler(&quietErrorHandler);
    alsa.usable = true;
    return alsa;
}

const Alsa& alsa() {
    static const Alsa loaded = loadAlsa();
    return loaded;
}

int millisUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 100));
}

// Writes the tone to an open device; false when the device failed or did
// not take the samples before `hardDeadline`.
bool writeTone(const Alsa& api, snd_pcm_t* pcm, int hertz, int milliseconds, Clock::time_point hardDeadline) {
    const std::int64_t totalFrames = std::int64_t{sampleRate} * milliseconds / 1000;
    const double step = 2 * std::numbers::pi * hertz / sampleRate;
    const double fadeFrames = fadeSeconds * sampleRate;
    std::vector<std::int16_t> chunk(1024);
    std::int64_t frame = 0;
    while (frame < totalFrames) {
        std::size_t count = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(chunk.size()), totalFrames - frame));
        for (std::size_t i = 0; i < count; ++i) {
            std::int64_t f = frame + static_cast<std::int64_t>(i);
            double edge = std::min(static_cast<double>(f), static_cast<double>(totalFrames - 1 - f));
            double gain = std::min(1.0, edge / fadeFrames);
            chunk[i] = static_cast<std::int16_t>(std::lround(amplitude * gain * std::sin(step * static_cast<double>(f))));
        }
        std::size_t offset = 0;
        while (offset < count) {
            if (Clock::now() > hardDeadline) return false;
            snd_pcm_sframes_t written = api.writei(pcm, chunk.data() + offset, count - offset);
            if (written == -EAGAIN) {
                int ready = api.wait(pcm, millisUntil(hardDeadline));
                if (ready < 0 && api.recover(pcm, ready, 1) < 0) return false;
            } else if (written < 0) {
                if (api.recover(pcm, static_cast<int>(written), 1) < 0) return false;
            } else {
                offset += static_cast<std::size_t>(written);
            }
        }
        frame += static_cast<std::int64_t>(count);
    }
    // Let the device play what it holds before it is closed.
    snd_pcm_sframes_t pending = 0;
    while (Clock::now() < hardDeadline && api.delay(pcm, &pending) == 0 && pending > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
}

bool playThroughDevice(int hertz, int milliseconds, Clock::time_point hardDeadline) {
    const Alsa& api = alsa();
    if (!api.usable) return false;
    snd_pcm_t* pcm = nullptr;
    // Non-blocking: a device held by another program must not make us wait.
    if (api.open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0 || pcm == nullptr) return false;
    bool played = api.setParams(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1, sampleRate, 1,
                                latencyMicros) == 0 &&
                  writeTone(api, pcm, hertz, milliseconds, hardDeadline);
    api.drop(pcm);
    api.close(pcm);
    return played;
}

} // namespace

bool playTone(int hertz, int milliseconds) {
    if (milliseconds <= 0) return false;
    static std::mutex oneAtATime;
    std::lock_guard<std::mutex> guard(oneAtATime);

    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::milliseconds(milliseconds);
    bool played = hertz >= 20 && hertz <= 20000 && playThroughDevice(hertz, milliseconds, end + grace);
    // Without a device (or when it finished early) the caller still waits
    // the tone's length.
    std::this_thread::sleep_until(end);
    return played;
}

} // namespace mub
