// What the simulated machine saw, written as JSON for tests and people.
#pragma once

#include <cstdint>
#include <string>

namespace mub::sim {

struct SimulationReport {
    // "idle", "identifying", "identity-failed", "transferring", "completed",
    // "too-large", "checksum-error", "disconnected", "abandoned", "stopped".
    std::string result = "idle";
    int probes = 0;           // 0x7F received
    int confirmations = 0;    // "QMTV" received
    int identityRequests = 0; // "M", "P", "F" received
    int rejectsReceived = 0;  // 0x18 received from the tool
    int upgrades = 0;         // begin bytes received

    // The identity frames the tool sent during the last upgrade (GBK).
    bool identityValid = false;
    std::string model, hardware, software;
    int badIdentityFrames = 0;

    int packets = 0;    // block packets received in the last upgrade
    int blocks = 0;     // blocks accepted
    int resends = 0;    // packets carrying a block that was sent before
    int rejected = 0;   // 0x15 answers sent by fault injection
    int ignored = 0;    // packets left unanswered by fault injection
    int badPackets = 0; // wrong number, complement or checksum, or cut short
    std::int64_t imageBytes = -1; // bytes saved; -1 when nothing was saved
    // From the ready byte's arrival at the tool to the end mark's arrival
    // here, on the line's clock; -1 until a transfer has completed. What a
    // tool's own elapsed time would show, measured the same way for each.
    double transferSeconds = -1;
    std::string imagePath;
};

// Writes the report as JSON (texts in UTF-8) to `path` through a temporary
// file, so a reader never sees half a report. False when it cannot be written.
bool writeReport(const SimulationReport& report, const std::string& path);

} // namespace mub::sim
