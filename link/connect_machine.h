#pragma once

#include "link/session_events.h"

#include <chrono>
#include <optional>

namespace mub {
class MachineLink;

// Finds the machine on the link's transport at baud-rate item `baudIndex`
// (link/baud_rates.h), runs the link handshake and reads model, hardware and
// software version, telling `observer` each step and each text as it comes.
// Sets link.running; the machine's identity only when all three replies were
// valid, nothing once Stop has cleared link.running or the connection failed.
// `probeGap`: a pause after each probe the machine did not answer (none: the
// probes follow each other at once), for a port that waits for machines.
std::optional<MachineInfo> connectMachine(MachineLink& link, int baudIndex, SessionObserver& observer,
                                          std::chrono::microseconds probeGap = {});

} // namespace mub
