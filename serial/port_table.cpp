#include "serial/port_table.h"

#include <utility>

namespace mub {

std::string PortTable::devicePath(int port) const {
    auto it = overrides_.find(port);
    if (it != overrides_.end()) return it->second; // an empty override removes the port
    if (port >= 1 && port <= 16) return "/dev/ttyUSB" + std::to_string(port - 1);
    if (port >= 17 && port <= 32) return "/dev/ttyACM" + std::to_string(port - 17);
    if (port >= 33 && port <= 64) return "/dev/ttyS" + std::to_string(port - 33);
    return {};
}

void PortTable::setOverride(int port, std::string devicePath) { overrides_[port] = std::move(devicePath); }

} // namespace mub
