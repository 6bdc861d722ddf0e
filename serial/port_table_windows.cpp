#include "serial/port_table.h"

namespace mub {

// Ports above 9 are reached only through the device namespace.
std::string PortTable::systemDevicePath(int port) {
    if (port < 1 || port > 255) return {};
    const std::string name = "COM" + std::to_string(port);
    return port <= 9 ? name : "\\\\.\\" + name;
}

bool devicePathsReachPorts() { return false; }

} // namespace mub
