#include "upgrade/upgrade_ending.h"

namespace mub {

Ending endingOf(UpgradeOutcome outcome) {
    switch (outcome) {
    case UpgradeOutcome::Completed: return {"completed", EndOk};
    case UpgradeOutcome::EmptyImage: return {"empty-image", EndRefused};
    case UpgradeOutcome::HardwareMismatch: return {"hardware-mismatch", EndRefused};
    case UpgradeOutcome::ModelMismatch: return {"model-mismatch", EndRefused};
    case UpgradeOutcome::SameVersionDeclined: return {"same-version-declined", EndRefused};
    case UpgradeOutcome::OlderVersionDeclined: return {"older-version-declined", EndRefused};
    case UpgradeOutcome::LinkLost: return {"link-lost", EndLinkFailure};
    case UpgradeOutcome::ImageTooLarge: return {"image-too-large", EndMachineFailure};
    case UpgradeOutcome::ChecksumFailed: return {"checksum-failed", EndMachineFailure};
    case UpgradeOutcome::TooManyFailures: return {"too-many-failures", EndTimeoutLimit};
    case UpgradeOutcome::Stopped: return {"stopped", EndStopped};
    }
    return {"link-lost", EndLinkFailure};
}

Ending upgradeEnding(bool connected, bool completed, UpgradeOutcome runOutcome, bool stopped, bool unanswered) {
    if (completed) return endingOf(UpgradeOutcome::Completed);
    if (stopped) return endingOf(UpgradeOutcome::Stopped);
    if (!connected) return {"not-connected", EndLinkFailure};
    if (unanswered) return {"unanswered", EndRefused};
    return endingOf(runOutcome);
}

Ending checkEnding(bool identified, bool stopped) {
    if (stopped) return {"stopped", EndStopped};
    if (identified) return {"identified", EndOk};
    return {"not-connected", EndLinkFailure};
}

Ending verifyEnding(bool answered, bool fileVersion) {
    if (!answered) return {"unverified", EndOk};
    if (fileVersion) return {"verified", EndOk};
    return {"verify-mismatch", EndVerifyMismatch};
}

bool machinePassed(int exitCode) { return exitCode == EndOk; }

} // namespace mub
