#include "app/key_repeat_filter.h"

namespace mub {
namespace {

// Longer than a keyboard's auto-repeat delay (at most about a second in the
// desktops' settings), so the first repeat of a held key is caught.
constexpr std::uint32_t repeatWindowMs = 1500;

} // namespace

bool KeyRepeatFilter::press(std::uint32_t time) {
    const bool repeat = (down_ && time - lastPress_ < repeatWindowMs) || (released_ && time == lastRelease_);
    down_ = true;
    released_ = false;
    lastPress_ = time;
    return !repeat;
}

void KeyRepeatFilter::release(std::uint32_t time) {
    down_ = false;
    released_ = true;
    lastRelease_ = time;
}

} // namespace mub
