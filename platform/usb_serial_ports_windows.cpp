// The USB serial ports for `mubtool station --ports usb` on Windows: the
// COM ports the system lists whose driver is a USB-serial adapter's.
#include "platform/serial_port_list.h"
#include "platform/usb_serial_ports.h"

#include <algorithm>

namespace mub {

std::vector<std::string> usableUsbSerialPorts() {
    std::vector<ListedSerialPort> listed = listedSerialPorts();
    std::sort(listed.begin(), listed.end(), [](const auto& a, const auto& b) { return a.number < b.number; });
    std::vector<std::string> names;
    for (const ListedSerialPort& port : listed)
        if (port.usb && !port.bluetooth) names.push_back("COM" + std::to_string(port.number));
    return names;
}

} // namespace mub
