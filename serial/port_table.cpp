#include "serial/port_table.h"

#include <utility>

namespace mub {

std::string PortTable::devicePath(int port) const {
    auto it = overrides_.find(port);
    if (it != overrides_.end()) return it->second; // an empty override removes the port
    return systemDevicePath(port);
}

void PortTable::setOverride(int port, std::string devicePath) { overrides_[port] = std::move(devicePath); }

} // namespace mub
