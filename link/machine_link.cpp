#include "link/machine_link.h"

namespace mub {

MachineLink::MachineLink(Waits& waits, Transport& transport) : waits_(waits), transport_(transport) {}

// The transport usually outlives the link (it is made first); without this
// its listener could still report to a run that is gone.
MachineLink::~MachineLink() { transport_.close(); }

} // namespace mub
