#pragma once

namespace mub {
class MachineLink;

// Finds the machine on the link's transport, runs the link handshake and
// reads model, hardware and software version into the machine fields.
// Sets link.running; true only when all three replies were valid. Returns
// false once Stop has cleared link.running.
bool connectMachine(MachineLink& link);

} // namespace mub
