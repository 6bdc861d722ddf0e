// The command line of `mubtool station`, and the ports it names.
#pragma once

#include "serial/port_table.h"
#include "station/station_port.h"

#include <functional>
#include <string>
#include <vector>

namespace mub::tool {

struct StationOptions {
    std::vector<std::string> ports; // as given; "usb" stands for the USB serial ports
    std::string baud = "57600";
    std::string logPath;   // empty: upgrades.csv beside the window's cfg.ini
    bool verify = false;
    int verifySeconds = 60; // how long --verify waits for the machine to come back
    long long count = 0;    // machines in all; 0: until Ctrl+C
    bool strict = false;
    bool json = false;
    std::string file;
    bool help = false;
};

// False with `error` on a usage error; --help alone is no error.
bool parseStationArgs(const std::vector<std::string>& args, StationOptions& out, std::string& error);

enum class PortsResult { Ok, BadName, NoUsbPort };

// The ports --ports names, each once (two names of one device are refused):
// COMn through the window's table (`windowTable`), a device path where the
// system has them, and "usb" as every port `usbPorts` lists. `error` says
// what is wrong otherwise.
PortsResult resolveStationPorts(const std::vector<std::string>& names, const PortTable& windowTable,
                                const std::function<std::vector<std::string>()>& usbPorts,
                                std::vector<StationPort>& out, std::string& error);

} // namespace mub::tool
