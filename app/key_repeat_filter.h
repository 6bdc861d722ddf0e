// A global hot key held down repeats: the X server sends it again and again,
// and so does Windows unless told not to (which Wine, for one, ignores).
// Both views tell a new press of F8 from a repeat with this one rule, by the
// times of the key's presses and releases in milliseconds of the view's
// clock. A repeat comes while the key is down: as a press without a release
// before it, or (the X server's plain auto-repeat) as a release and a press
// of the same time. A press long after the last one is new even without a
// release, so that a release the view never saw cannot lock the key out.
#pragma once

#include <cstdint>

namespace mub {

class KeyRepeatFilter {
public:
    // True when the press at `time` is a new press.
    bool press(std::uint32_t time);
    void release(std::uint32_t time);
    bool down() const { return down_; }

private:
    bool down_ = false;
    bool released_ = false;
    std::uint32_t lastPress_ = 0;
    std::uint32_t lastRelease_ = 0;
};

} // namespace mub
