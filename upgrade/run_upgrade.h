#pragma once

namespace mub {
class MachineLink;
struct UpgradeFile;

// One upgrade run after connectMachine succeeded: identity checks, begin and
// identity exchange, the block transfer, the completion report and counter.
// True only when the whole image was acknowledged and the report written.
bool runUpgrade(MachineLink& link, const UpgradeFile& file);

} // namespace mub
