#include "serial/port_table.h"

namespace mub {

std::string PortTable::systemDevicePath(int port) {
    if (port >= 1 && port <= 16) return "/dev/ttyUSB" + std::to_string(port - 1);
    if (port >= 17 && port <= 32) return "/dev/ttyACM" + std::to_string(port - 17);
    if (port >= 33 && port <= 64) return "/dev/ttyS" + std::to_string(port - 33);
    return {};
}

bool devicePathsReachPorts() { return true; }

} // namespace mub
