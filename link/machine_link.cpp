#include "link/machine_link.h"

namespace mub {

MachineLink::MachineLink(Ui& ui, Transport& transport) : ui_(ui), transport_(transport) {}

// The transport usually outlives the link (it is made first); without this
// its listener could still report to a run that is gone.
MachineLink::~MachineLink() { transport_.close(); }

} // namespace mub
