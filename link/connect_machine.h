#pragma once

#include "link/session_events.h"

#include <optional>

namespace mub {
class MachineLink;

// Finds the machine on the link's transport at baud-rate item `baudIndex`
// (link/baud_rates.h), runs the link handshake and reads model, hardware and
// software version, telling `observer` each step and each text as it comes.
// Sets link.running; the machine's identity only when all three replies were
// valid, nothing once Stop has cleared link.running or the connection failed.
std::optional<MachineInfo> connectMachine(MachineLink& link, int baudIndex, SessionObserver& observer);

} // namespace mub
