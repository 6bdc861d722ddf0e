// The system timer's finest period (1 ms) for as long as the object lives:
// the link's waits are a millisecond long, and the default period (about
// 15.6 ms) would stretch each one. Windows 11 ignores such a request from a
// process whose windows are minimised or hidden, and slows the process down
// in the background, unless the process opts out of that throttling; this
// opts out where the system knows how (SetProcessInformation, looked up at
// run time: Windows 7 lacks it).
#pragma once

namespace mub {

class FineTimer {
public:
    FineTimer();
    ~FineTimer();
    FineTimer(const FineTimer&) = delete;
    FineTimer& operator=(const FineTimer&) = delete;

private:
    bool fine_ = false;
};

} // namespace mub
