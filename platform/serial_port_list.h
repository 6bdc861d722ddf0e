// The serial ports the system itself lists: on Windows those of the
// registry's HARDWARE\DEVICEMAP\SERIALCOMM, with the Bluetooth ones marked
// (their open may block for many seconds while a connection is tried).
// Linux has no such list: the port table is the list there.
#pragma once

#include <string>
#include <vector>

namespace mub {

struct ListedSerialPort {
    int number = 0; // COM<number>
    bool bluetooth = false;
    // Driven by a USB-serial adapter's driver (FTDI, Silicon Labs, Prolific,
    // WCH, the system's CDC driver): never a port built into the computer.
    bool usb = false;
    // The driver's device that SERIALCOMM names (\Device\VCP0), UTF-8.
    std::string device = {};
};

std::vector<ListedSerialPort> listedSerialPorts();

} // namespace mub
