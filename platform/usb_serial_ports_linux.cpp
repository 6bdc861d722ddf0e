// The USB serial ports for `mubtool station --ports usb`: the devices that
// `mubtool ports` lists with USB ids and as open to this user.
#include "platform/serial_devices.h"
#include "platform/usb_serial_ports.h"

namespace mub {

std::vector<std::string> usableUsbSerialPorts() {
    std::vector<std::string> paths;
    for (const SerialDevice& device : listSerialDevices({}))
        if (device.present && device.accessible && !device.usbVendor.empty()) paths.push_back(device.path);
    return paths;
}

} // namespace mub
