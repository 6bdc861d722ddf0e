// The serial devices of this computer as an operator needs to know them:
// which adapter a device is, whether this user may open it, and what else
// holds it. Read from the system without opening any device (opening a tty
// raises its modem lines, which can reset what hangs on it).
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace mub {

struct ProcessRef {
    pid_t pid = 0;
    std::string name;
};

struct SerialDevice {
    std::string path;             // /dev/ttyUSB0
    bool present = true;          // false: named in [Ports] but not there
    std::string driver;           // ftdi_sio, cdc_acm, serial, pty, ...; empty when unknown
    std::string usbVendor;        // four hexadecimal digits, empty when not a USB adapter
    std::string usbProduct;
    std::string usbName;          // the adapter's product text, may be empty
    bool accessible = false;      // this user may open it for reading and writing
    std::string joinGroup;        // when not: the group that may open it, if joining it helps
    bool groupNeedsNewLogin = false; // this user is in joinGroup, but not in this session yet
    std::vector<ProcessRef> heldBy; // processes that have it open or locked (as far as visible)
};

// Fills the driver and the USB adapter's ids and product text of the tty
// `ttyName` from the sysfs tree at `sysRoot` ("/sys").
void describeTty(const std::string& sysRoot, const std::string& ttyName, SerialDevice& device);

// Every serial device with hardware behind it (/sys/class/tty), plus the
// `extraPaths` (devices the settings name, such as pseudo-terminals), each
// once, sorted by path.
std::vector<SerialDevice> listSerialDevices(const std::vector<std::string>& extraPaths);

// Known services that take serial ports away from other programs and are
// running now (a braille-display daemon, a modem manager), with a line of
// advice each.
struct PortGrabber {
    ProcessRef process;
    std::string advice;
};
std::vector<PortGrabber> runningPortGrabbers();

} // namespace mub
