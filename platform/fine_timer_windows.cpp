#include "platform/fine_timer_windows.h"

#include <windows.h>
#include <timeapi.h>

namespace mub {
namespace {

// From the Windows 10 SDK; older headers lack them.
constexpr int processPowerThrottling = 4; // PROCESS_INFORMATION_CLASS ProcessPowerThrottling
constexpr ULONG throttlingVersion = 1;
constexpr ULONG throttleExecutionSpeed = 0x1;
constexpr ULONG throttleIgnoreTimerResolution = 0x4;

struct PowerThrottlingState {
    ULONG version;
    ULONG controlMask; // the kinds of throttling this process decides itself
    ULONG stateMask;   // of those, the ones it wants: none
};

using SetProcessInformationFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);

void optOutOfThrottling() {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto set = reinterpret_cast<SetProcessInformationFn>(
        reinterpret_cast<void*>(kernel ? ::GetProcAddress(kernel, "SetProcessInformation") : nullptr));
    if (!set) return;
    PowerThrottlingState state{throttlingVersion, throttleExecutionSpeed | throttleIgnoreTimerResolution, 0};
    if (set(::GetCurrentProcess(), processPowerThrottling, &state, sizeof state)) return;
    // Windows 10 before the timer flag (1709 to 2004) refuses it with the other one.
    state.controlMask = throttleExecutionSpeed;
    set(::GetCurrentProcess(), processPowerThrottling, &state, sizeof state);
}

} // namespace

FineTimer::FineTimer() {
    optOutOfThrottling();
    fine_ = ::timeBeginPeriod(1) == TIMERR_NOERROR;
}

FineTimer::~FineTimer() {
    if (fine_) ::timeEndPeriod(1);
}

} // namespace mub
