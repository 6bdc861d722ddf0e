#pragma once

#include "link/connect_machine.h"

#include <cstdint>
#include <functional>

namespace mub {
class MachineLink;
struct UpgradeFile;

// Why an upgrade run ended. The run itself only answers true or false; a
// caller that must tell the endings apart (the command-line tool's exit
// code) reads this instead of judging the messages.
enum class UpgradeOutcome {
    Completed,            // whole image acknowledged, completion report written
    EmptyImage,           // refused: the file carries no image bytes
    HardwareMismatch,     // refused
    ModelMismatch,        // refused
    SameVersionDeclined,  // the operator answered No
    OlderVersionDeclined, // the operator answered No
    LinkLost,             // a send failed
    ImageTooLarge,        // the machine gave up with Cancel (0x18)
    ChecksumFailed,       // the machine answered 0x04
    TooManyFailures,      // the consecutive or total failure limit was passed
    Stopped,              // Stop cleared the running flag
};

// What a caller may learn about a run while it goes and after it ended.
struct UpgradeReport {
    UpgradeOutcome outcome = UpgradeOutcome::Stopped;
    std::uint32_t blocksDone = 0;    // blocks the machine acknowledged
    std::uint32_t totalFailures = 0; // rejections and time-outs
    std::uint32_t timeouts = 0;      // waits that ended without an acknowledgement or rejection
    std::uint32_t rejectedBlocks = 0; // 0x15 replies
    std::uint32_t elapsedMs = 0;     // set on completion
    // Optional: called after every acknowledged block with the number of
    // image bytes acknowledged so far (at most the image length).
    std::function<void(std::uint64_t bytesAcknowledged)> onBlockAccepted;
    // Optional: called once the whole image was acknowledged and the end
    // mark sent, with this report filled, before the completion is shown:
    // a record of the run (the upgrade log) is kept before the run says it
    // is finished.
    std::function<void(const UpgradeReport& report)> onCompleting;
};

// One upgrade run after connectMachine identified `machine`: identity checks,
// begin and identity exchange, the block transfer, the completion report and
// counter. True only when the whole image was acknowledged and the report
// written.
bool runUpgrade(MachineLink& link, const UpgradeFile& file, const MachineInfo& machine,
                UpgradeReport* report = nullptr);

} // namespace mub
