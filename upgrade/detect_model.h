#pragma once

namespace mub {
class MachineLink;
struct UpgradeFile;

// The model-check toggle bound to the model-check button: identifies the
// machine without upgrading it, or stops a check in progress.
void detectModel(MachineLink& link, const UpgradeFile& file);

} // namespace mub
