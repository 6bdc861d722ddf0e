// How one upgrade or model check ended, told the same way by every program:
// a word for scripts and the upgrade log, and the exit code `mubtool
// upgrade` ends with (also written to the log, for the window's runs too).
#pragma once

#include "upgrade/run_upgrade.h"

namespace mub {

enum EndingCode : int {
    EndOk = 0,
    EndFileFailure = 4,   // the upgrade file cannot be read or decoded
    EndRefused = 5,       // identity mismatch, empty image, a question answered No
    EndLinkFailure = 6,   // machine not reached or identified, a send failed
    EndMachineFailure = 7, // the machine gave up (0x18 or 0x04)
    EndTimeoutLimit = 8,  // too many time-outs or rejected blocks
    EndStopped = 9,       // Stop (Ctrl+C)
    EndVerifyMismatch = 11, // after the upgrade the machine reports another software version
};

struct Ending {
    const char* outcome; // "completed", "model-mismatch", ...
    int exitCode;
};

// The ending of a run that connectMachine started.
Ending endingOf(UpgradeOutcome outcome);

// The ending of an upgrade as the operator started it: the connection, then
// the run. `stopped`: Stop was pressed; `unanswered`: a question came that
// nobody could answer (it was taken as No).
Ending upgradeEnding(bool connected, bool completed, UpgradeOutcome runOutcome, bool stopped, bool unanswered);

// The ending of a model check: "identified", "not-connected" or "stopped".
Ending checkEnding(bool identified, bool stopped);

// The ending of a completed upgrade whose machine was checked after its
// restart: "verified" when it reports the file's software version,
// "verify-mismatch" when it reports another one, "unverified" when it did
// not answer in time (not a failure: nothing is known against it).
Ending verifyEnding(bool answered, bool fileVersion);

// Whether a machine whose latest log line ended with `exitCode` passed: an
// upgrade that completed (verified, or unverified since nothing is known
// against it) passes, every other ending fails it. The station's totals and
// the shift report both count by it.
bool machinePassed(int exitCode);

} // namespace mub
