#pragma once

#include "link/connect_machine.h"

#include <optional>

namespace mub {
class MachineLink;
struct UpgradeFile;

// The model-check toggle bound to the model-check button: identifies the
// machine without upgrading it, or stops a check in progress. The machine's
// identity when this call started a check and connectMachine identified the
// machine (the window shows it in its fields; the command-line tool prints
// it and turns it into its exit code).
std::optional<MachineInfo> detectModel(MachineLink& link, const UpgradeFile& file);

} // namespace mub
