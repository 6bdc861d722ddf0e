#pragma once

#include "link/session_events.h"
#include "upgrade/program_title.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace mub {
class MachineLink;
struct UpgradeFile;

// The machine model that is upgraded with any file: the identity checks
// are skipped for it.
const std::string& wildcardModel();

// The failure limits of the transfer: a rejected block and a block without
// an answer in time are failures; the run gives up at the first failure
// beyond either limit, so at the 4th in a row or the 11th in all.
inline constexpr std::uint32_t failuresInARowAllowed = 3;
inline constexpr std::uint32_t failuresInAllAllowed = 10;

// What a caller may learn about a run after it ended.
struct UpgradeReport {
    UpgradeOutcome outcome = UpgradeOutcome::Stopped;
    std::uint32_t blocksDone = 0;     // blocks the machine acknowledged
    std::uint32_t totalFailures = 0;  // rejections and time-outs
    std::uint32_t timeouts = 0;       // waits that ended without an acknowledgement or rejection
    std::uint32_t rejectedBlocks = 0; // 0x15 replies
    std::uint32_t elapsedMs = 0;      // set on completion
    // How long the machine had sent nothing when the run ended, from the
    // begin command on (0 before it): a silence longer than a presence
    // check means it was taken away in the middle.
    std::uint32_t quietMs = 0;
    bool unanswered = false;          // a question came that nobody could answer (taken as No)
};

// What a run is given besides the link, the file and the machine.
struct RunOptions {
    IdentityRule rule = IdentityRule::ProductionLine;
    // The counter's text as it stands when the run completes (the operator
    // may clear it meanwhile); the run tells the next one. Unset: "0".
    std::function<std::string()> counter;
    // Puts a question (the event's `box` holds its text): Yes, No, or
    // nothing when nobody can answer it (taken as No). Unset: No.
    std::function<std::optional<bool>(const SessionEvent& question)> ask;
    // Called once the whole image was acknowledged and the end mark sent,
    // with the report filled, before the completion is shown: a record of
    // the run (the upgrade log) is kept before the run says it is finished.
    std::function<void(const UpgradeReport& report)> beforeCompletion;
};

// One upgrade run after connectMachine identified `machine`: identity checks,
// begin and identity exchange, the block transfer, the completion report and
// counter, each step told to `observer`. True only when the whole image was
// acknowledged and the report written.
bool runUpgrade(MachineLink& link, const UpgradeFile& file, const MachineInfo& machine, const RunOptions& options,
                SessionObserver& observer, UpgradeReport* report = nullptr);

} // namespace mub
