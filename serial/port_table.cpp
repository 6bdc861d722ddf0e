#include "serial/port_table.h"

#include <utility>

namespace mub {

std::string PortTable::devicePath(int port) const {
    auto it = overrides_.find(port);
    if (it != overrides_.end()) return it->second; // an empty override removes the port
    return systemDevicePath(port);
}

void PortTable::setOverride(int port, std::string devicePath) { overrides_[port] = std::move(devicePath); }

int comNumberOf(const std::string& port) {
    if (port.size() < 4 || port.compare(0, 3, "COM") != 0) return 0;
    int n = 0;
    for (std::size_t i = 3; i < port.size(); ++i) {
        if (port[i] < '0' || port[i] > '9' || n > 255) return 0;
        n = n * 10 + (port[i] - '0');
    }
    return n >= 1 && n <= 255 ? n : 0;
}

PortTable onePortTable(int number, const std::string& device) {
    PortTable ports;
    for (int port = 1; port <= 255; ++port) ports.setOverride(port, port == number ? device : "");
    return ports;
}

} // namespace mub
