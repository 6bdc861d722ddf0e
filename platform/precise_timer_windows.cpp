#include "platform/precise_timer_windows.h"

namespace mub {
namespace {

// From the Windows 10 SDK; older headers lack it.
constexpr DWORD highResolutionTimer = 0x00000002; // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

} // namespace

PreciseTimer::PreciseTimer() {
    // Refused with ERROR_INVALID_PARAMETER by a system that has no such
    // timer; then there is none, and waits use the system timer.
    timer_ = ::CreateWaitableTimerExW(nullptr, nullptr, highResolutionTimer, TIMER_ALL_ACCESS);
}

PreciseTimer::~PreciseTimer() {
    if (timer_) ::CloseHandle(timer_);
}

bool PreciseTimer::arm(Clock::time_point deadline) {
    if (!timer_) return false;
    const auto left = deadline - Clock::now();
    // Relative due time, in 100-nanosecond units, negative; at least one unit.
    const long long units = std::chrono::duration_cast<std::chrono::duration<long long, std::ratio<1, 10000000>>>(left).count();
    LARGE_INTEGER due;
    due.QuadPart = -(units > 0 ? units : 1);
    return ::SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE) != FALSE;
}

DWORD PreciseTimer::fallbackMilliseconds(Clock::time_point deadline) {
    const auto left = std::chrono::floor<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

} // namespace mub
