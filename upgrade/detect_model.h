#pragma once

#include "link/session_events.h"

#include <chrono>
#include <optional>

namespace mub {
class MachineLink;

// The model check: identifies the machine at baud-rate item `baudIndex`
// without upgrading it, then tells the machine that no upgrade follows and
// releases the link. `fileLoaded` decides whether the upgrade button comes
// back with the idle state. The machine's identity when connectMachine
// identified it; `probeGap` as for connectMachine.
std::optional<MachineInfo> detectModel(MachineLink& link, int baudIndex, bool fileLoaded, SessionObserver& observer,
                                       std::chrono::microseconds probeGap = {});

// Stop pressed while a check waits (nested inside it): told, then back to
// idle at once; the check further out ends at its next test of the running
// flag and goes back to idle once more.
void stopModelCheck(MachineLink& link, bool fileLoaded, SessionObserver& observer);

} // namespace mub
