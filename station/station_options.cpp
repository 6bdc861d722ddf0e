#include "station/station_options.h"

#include "link/baud_rates.h"
#include "platform/option_reader.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

namespace mub {
namespace {

bool readCount(const std::string& text, long long min, long long max, long long& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < min || value > max) return false;
    out = value;
    return true;
}

// The device a port name comes to, for finding two names of one device.
std::string deviceKey(const std::string& device) {
    std::error_code error;
    const auto real = std::filesystem::canonical(device, error);
    return error ? device : real.string();
}

} // namespace

bool isUsbWord(const std::string& name) { return name == "usb" || name == "USB"; }

bool splitPortList(const std::string& text, std::vector<std::string>& out, std::string& error) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        while (!item.empty() && item.front() == ' ') item.erase(item.begin());
        while (!item.empty() && item.back() == ' ') item.pop_back();
        if (item.empty()) {
            error = "--ports " + text + ": an empty name in the list";
            return false;
        }
        out.push_back(item);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

bool parseStationArgs(const std::vector<std::string>& args, StationOptions& out, std::string& error,
                      StationCommandLine kind) {
    const bool tool = kind == StationCommandLine::Tool;
    std::vector<std::string> positional;
    OptionReader reader(args);
    auto value = [&](std::string& target) { return reader.value(target, error); };
    auto flag = [&](bool& target) { return reader.flag(target, error); };
    while (reader.next()) {
        const std::string& arg = reader.name();
        std::string text;
        if (arg == "--help" || arg == "-h") {
            out.help = true;
        } else if (arg == "--ports") {
            if (!value(text) || !splitPortList(text, out.ports, error)) return false;
        } else if (arg == "--baud") {
            if (!value(out.baud)) return false;
        } else if (arg == "--log") {
            if (!reader.nonEmptyValue(out.logPath, "a file", error)) return false;
        } else if (arg == "--verify") {
            if (!flag(out.verify)) return false;
        } else if (arg == "--verify-wait") {
            long long seconds = 0;
            if (!value(text)) return false;
            if (!readCount(text, 1, 3600, seconds)) {
                error = "--verify-wait " + text + ": seconds from 1 to 3600";
                return false;
            }
            out.verifySeconds = static_cast<int>(seconds);
        } else if (arg == "--count") {
            if (!value(text)) return false;
            if (!readCount(text, 1, 1000000000, out.count)) {
                error = "--count " + text + ": a number of machines from 1";
                return false;
            }
        } else if (arg == "--strict" && tool) {
            if (!flag(out.strict)) return false;
        } else if (arg == "--json" && tool) {
            if (!flag(out.json)) return false;
        } else if (arg == "--approved" && tool) {
            if (!reader.nonEmptyValue(out.approvedPath, "a file", error)) return false;
        } else if (arg == "--send-to" && tool) {
            if (!reader.nonEmptyValue(out.records.address, "the collector's address", error)) return false;
        } else if (arg == "--token" && tool) {
            if (!reader.nonEmptyValue(out.records.token, "a token", error)) return false;
        } else if (reader.isOption()) {
            error = "unknown option " + reader.given();
            return false;
        } else {
            positional.push_back(arg);
        }
        if (reader.isOption()) out.given.insert(arg);
    }
    if (out.help) return true;
    if (!tool) {
        if (positional.size() > 1) {
            error = "at most one FILE.mub";
            return false;
        }
        if (!positional.empty()) out.file = positional[0];
        if (baudIndexOf(out.baud) < 0) {
            error = badBaudText(out.baud);
            return false;
        }
        return true;
    }
    if (out.ports.empty()) {
        error = "--ports is required: a station writes only to the ports it is given (COMn, a device path, or usb)";
        return false;
    }
    if (positional.size() != 1) {
        error = "one FILE.mub is required";
        return false;
    }
    out.file = positional[0];
    if (baudIndexOf(out.baud) < 0) {
        error = badBaudText(out.baud);
        return false;
    }
    error = collectorTargetProblem(out.records);
    return error.empty();
}

PortsResult resolveStationPorts(const std::vector<std::string>& names, const PortTable& windowTable,
                                const std::function<std::vector<std::string>()>& usbPorts,
                                std::vector<StationPort>& out, std::string& error) {
    std::vector<std::string> expanded;
    for (const std::string& name : names) {
        if (!isUsbWord(name)) {
            expanded.push_back(name);
            continue;
        }
        const std::vector<std::string> usb = usbPorts();
        if (usb.empty()) {
            error = "--ports usb: no USB serial port that this user may open (see mubtool ports)";
            return PortsResult::NoUsbPort;
        }
        expanded.insert(expanded.end(), usb.begin(), usb.end());
    }
    std::map<std::string, std::string> seen; // device -> the name that gave it
    for (const std::string& name : expanded) {
        StationPort port;
        port.name = name;
        std::string device;
        if (const int number = comNumberOf(name); number != 0) {
            port.number = number;
            device = windowTable.devicePath(number);
            if (device.empty()) {
                error = "--ports " + name + ": no device has this number (see mubtool ports)";
                return PortsResult::BadName;
            }
        } else {
            std::error_code missing;
            if (!devicePathsReachPorts() || name.find('/') == std::string::npos ||
                !std::filesystem::exists(name, missing)) {
                error = "--ports " + name + ": not COM1..COM255, usb or an existing device path";
                return PortsResult::BadName;
            }
            device = name;
        }
        const auto [at, fresh] = seen.emplace(deviceKey(device), name);
        if (!fresh) {
            if (at->second == name) continue; // named twice (usb and its path, say): one port
            error = "--ports: " + name + " and " + at->second + " are the same device";
            return PortsResult::BadName;
        }
        port.table = onePortTable(port.number, device);
        out.push_back(std::move(port));
    }
    return PortsResult::Ok;
}

std::vector<StationPort> usbStationPorts(const PortTable& windowTable,
                                         const std::function<std::vector<std::string>()>& usbPorts) {
    std::vector<StationPort> found;
    for (const std::string& name : usbPorts()) {
        std::vector<StationPort> one;
        std::string error;
        if (resolveStationPorts({name}, windowTable, usbPorts, one, error) == PortsResult::Ok)
            found.insert(found.end(), one.begin(), one.end());
    }
    return found;
}

} // namespace mub
