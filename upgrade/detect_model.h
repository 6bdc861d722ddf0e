#pragma once

namespace mub {
class MachineLink;
struct UpgradeFile;

// The model-check toggle bound to the model-check button: identifies the
// machine without upgrading it, or stops a check in progress. True when this
// call started a check and connectMachine identified the machine (the window
// ignores it; the command-line tool turns it into its exit code).
bool detectModel(MachineLink& link, const UpgradeFile& file);

} // namespace mub
