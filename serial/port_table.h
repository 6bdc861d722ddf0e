// Maps COM port numbers to device paths. Ports keep their "COM<n>" names on
// every platform; on Linux the number selects a tty.
#pragma once

#include <map>
#include <string>

namespace mub {

class PortTable {
public:
    // The device for COM<port>, empty when the number has no device.
    // Default table: COM1-16 -> /dev/ttyUSB0-15, COM17-32 -> /dev/ttyACM0-15,
    // COM33-64 -> /dev/ttyS0-31; overrides win.
    std::string devicePath(int port) const;
    void setOverride(int port, std::string devicePath);

private:
    std::map<int, std::string> overrides_;
};

} // namespace mub
