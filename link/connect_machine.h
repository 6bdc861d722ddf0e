#pragma once

#include <optional>
#include <string>

namespace mub {
class MachineLink;

// What the machine says it is: model, hardware version, software version
// (GBK texts, each up to its first zero byte).
struct MachineInfo {
    std::string model;
    std::string hardware;
    std::string software;
};

// Finds the machine on the link's transport, runs the link handshake and
// reads model, hardware and software version, showing each in its machine
// field as it comes. Sets link.running; the machine's identity only when all
// three replies were valid, nothing once Stop has cleared link.running or
// the connection failed.
std::optional<MachineInfo> connectMachine(MachineLink& link);

} // namespace mub
