// The command line of a production station (`mubtool station` and the
// station window), and the ports it names.
#pragma once

#include "records/collector_target.h"
#include "serial/port_table.h"
#include "station/station_port.h"

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace mub {

struct StationOptions {
    std::vector<std::string> ports; // as given; "usb" stands for the USB serial ports
    std::string baud = "57600";
    std::string logPath;   // empty: upgrades.csv beside the window's cfg.ini
    bool verify = false;
    int verifySeconds = 60; // how long a machine may take to come back
    long long count = 0;    // machines in all; 0: until stopped
    bool strict = false;
    bool json = false;
    std::string file;
    std::string approvedPath; // --approved: only a file whose MD5 is listed there
    CollectorTarget records;  // --send-to, --token (mubtool station; the window reads cfg.ini)
    bool help = false;
    std::set<std::string> given; // the options on the command line ("--ports", ...)
};

// Which program reads the command line: `mubtool station` needs --ports and
// a file and takes --json; the window takes each from its settings when
// not given, and has no --json.
enum class StationCommandLine { Tool, Window };

// False with `error` on a usage error; --help alone is no error.
bool parseStationArgs(const std::vector<std::string>& args, StationOptions& out, std::string& error,
                      StationCommandLine kind = StationCommandLine::Tool);

// "a,b, c" as its names; false with `error` for an empty name.
bool splitPortList(const std::string& text, std::vector<std::string>& out, std::string& error);

// "usb" (either case).
bool isUsbWord(const std::string& name);

enum class PortsResult { Ok, BadName, NoUsbPort };

// The ports --ports names, each once (two names of one device are refused):
// COMn through the window's table (`windowTable`), a device path where the
// system has them, and "usb" as every port `usbPorts` lists. `error` says
// what is wrong otherwise.
PortsResult resolveStationPorts(const std::vector<std::string>& names, const PortTable& windowTable,
                                const std::function<std::vector<std::string>()>& usbPorts,
                                std::vector<StationPort>& out, std::string& error);

// Every port `usbPorts` lists now, as station ports (for ports that appear
// after the start: a name that does not resolve is left out).
std::vector<StationPort> usbStationPorts(const PortTable& windowTable,
                                         const std::function<std::vector<std::string>()>& usbPorts);

// How often a station on `usb` looks for USB serial ports plugged in later.
inline constexpr std::chrono::seconds usbLookEvery{2};

} // namespace mub
