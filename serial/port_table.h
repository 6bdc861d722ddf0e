// Maps COM port numbers to device paths. Ports keep their "COM<n>" names on
// every platform; on Linux the number selects a tty.
#pragma once

#include <map>
#include <string>

namespace mub {

class PortTable {
public:
    // The device for COM<port>, empty when the number has no device; an
    // override wins. Default table on Linux: COM1-16 -> /dev/ttyUSB0-15,
    // COM17-32 -> /dev/ttyACM0-15, COM33-64 -> /dev/ttyS0-31; on Windows the
    // system's own ports (COM1-9 by name, COM10 and above as \\.\COMn).
    std::string devicePath(int port) const;
    void setOverride(int port, std::string devicePath);

private:
    static std::string systemDevicePath(int port);

    std::map<int, std::string> overrides_;
};

// "COMn" with n in 1..255 gives n, anything else 0.
int comNumberOf(const std::string& port);

// A table with `device` as COM<number> and no other port: a search over it
// opens and probes that device only (on a line with several stations,
// another device may be another machine).
PortTable onePortTable(int number, const std::string& device);

// True where a device path given for a port is reached through the port
// table (Linux); false where COM numbers are the system's own (Windows).
bool devicePathsReachPorts();

} // namespace mub
