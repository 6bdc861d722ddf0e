// The USB serial ports for `mubtool station --ports usb`: the devices that
// `mubtool ports` lists with USB ids and as open to this user.
#include "tools/mubtool/serial_devices.h"
#include "tools/mubtool/station_options.h"

namespace mub::tool {

std::vector<std::string> usableUsbSerialPorts() {
    std::vector<std::string> paths;
    for (const SerialDevice& device : listSerialDevices({}))
        if (device.present && device.accessible && !device.usbVendor.empty()) paths.push_back(device.path);
    return paths;
}

} // namespace mub::tool
