// mubtool ports: every serial device of the computer with the COM number the
// window and mubtool give it, what adapter it is, whether this user may open
// it and what else holds it; then notes on services known to take ports.
#include "app/settings/port_overrides.h"
#include "app/settings/settings_file.h"
#include "app/settings/settings_location.h"
#include "link/bridge_binding.h"
#include "platform/bridge_library.h"
#include "platform/json_text.h"
#include "platform/serial_devices.h"
#include "serial/port_table.h"
#include "tools/mubtool/command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace mub::tool {
namespace {

constexpr const char* portsUsage =
    "usage: mubtool ports [--json] [--settings FILE]\n"
    "\n"
    "Lists every serial device of this computer, one line each:\n"
    "  PORT      the COM name the window and mubtool give it (default table\n"
    "            COM1-16 /dev/ttyUSB0-15, COM17-32 /dev/ttyACM0-15,\n"
    "            COM33-64 /dev/ttyS0-31, changed by [Ports] of the settings)\n"
    "  DEVICE    the device path; devices that [Ports] names are listed too\n"
    "  USB       vendor:product ids and product name of a USB adapter; the\n"
    "            machine's USB bridge is marked (bridge)\n"
    "  DRIVER    the kernel driver (pty for a pseudo-terminal)\n"
    "  ACCESS    yes, or why this user may not open it and which group to join\n"
    "  HELD BY   processes that have it open or locked now (processes of other\n"
    "            users only when they lock it)\n"
    "Then a note for each running service known to take serial ports.\n"
    "\n"
    "options:\n"
    "  --json           one JSON object for scripts instead of the table\n"
    "  --settings FILE  the cfg.ini whose [Ports] to apply (default: the one the\n"
    "                   window beside mubtool uses)\n";

struct Row {
    std::string port, device, usb, driver, access, heldBy;
};

// Device path -> "COM<n>": the lowest number whose device it is, as the
// port search meets them.
std::map<std::string, std::string> comNames(const PortTable& table) {
    std::map<std::string, std::string> names;
    for (int port = 1; port <= 255; ++port) {
        std::string path = table.devicePath(port);
        if (path.empty()) continue;
        std::error_code error;
        std::filesystem::path real = std::filesystem::canonical(path, error);
        names.emplace(error ? path : real.string(), "COM" + std::to_string(port));
    }
    return names;
}

bool isBridge(const SerialDevice& device) {
    BridgeParams ids;
    char vendor[8], product[8];
    std::snprintf(vendor, sizeof vendor, "%04x", static_cast<unsigned>(ids.words[0]));
    std::snprintf(product, sizeof product, "%04x", static_cast<unsigned>(ids.words[1]));
    return device.usbVendor == vendor && device.usbProduct == product;
}

std::string accessText(const SerialDevice& device) {
    if (!device.present) return "missing";
    if (device.accessible) return "yes";
    if (device.joinGroup.empty()) return "no";
    if (device.groupNeedsNewLogin) return "no: log in again (joined " + device.joinGroup + ")";
    return "no: join " + device.joinGroup;
}

std::string heldText(const SerialDevice& device) {
    std::string text;
    for (const ProcessRef& p : device.heldBy)
        text += (text.empty() ? "" : ", ") + std::to_string(p.pid) + " (" + p.name + ")";
    return text.empty() ? "-" : text;
}

std::string usbText(const SerialDevice& device) {
    if (device.usbVendor.empty()) return "-";
    std::string text = device.usbVendor + ":" + device.usbProduct;
    if (!device.usbName.empty()) text += " " + device.usbName;
    if (isBridge(device)) text += " (bridge)";
    return text;
}

void printTable(const std::vector<Row>& rows) {
    Row head{"PORT", "DEVICE", "USB", "DRIVER", "ACCESS", "HELD BY"};
    std::size_t w[5] = {};
    auto widen = [&w](const Row& r) {
        const std::string* cells[5] = {&r.port, &r.device, &r.usb, &r.driver, &r.access};
        for (int i = 0; i < 5; ++i) w[i] = std::max(w[i], cells[i]->size());
    };
    widen(head);
    for (const Row& r : rows) widen(r);
    auto print = [&w](const Row& r) {
        std::printf("%-*s  %-*s  %-*s  %-*s  %-*s  %s\n", int(w[0]), r.port.c_str(), int(w[1]), r.device.c_str(),
                    int(w[2]), r.usb.c_str(), int(w[3]), r.driver.c_str(), int(w[4]), r.access.c_str(),
                    r.heldBy.c_str());
    };
    print(head);
    for (const Row& r : rows) print(r);
}

std::string deviceJson(const SerialDevice& device, const std::string& port) {
    JsonObject object;
    port.empty() ? object.null("port") : object.text("port", port);
    object.text("device", device.path).boolean("present", device.present);
    device.driver.empty() ? object.null("driver") : object.text("driver", device.driver);
    if (device.usbVendor.empty()) {
        object.null("usb");
    } else {
        object.raw("usb", JsonObject()
                              .text("vendor", device.usbVendor)
                              .text("product", device.usbProduct)
                              .text("name", device.usbName)
                              .boolean("bridge", isBridge(device))
                              .str());
    }
    object.boolean("accessible", device.accessible);
    device.joinGroup.empty() ? object.null("joinGroup") : object.text("joinGroup", device.joinGroup);
    object.boolean("newLoginNeeded", device.groupNeedsNewLogin);
    std::vector<std::string> holders;
    for (const ProcessRef& p : device.heldBy) holders.push_back(JsonObject().number("pid", p.pid).text("name", p.name).str());
    object.raw("heldBy", jsonArray(holders));
    return object.str();
}

int runPorts(const std::vector<std::string>& args) {
    bool json = false;
    std::string settings;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(portsUsage, stdout);
            return ExitOk;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--settings" && i + 1 < args.size()) {
            settings = args[++i];
        } else if (arg.rfind("--settings=", 0) == 0) {
            settings = arg.substr(11);
        } else {
            return usageError("ports", "unexpected '" + arg + "'");
        }
    }
    if (settings.empty()) settings = existingSettingsPath(programFolder());

    PortTable table;
    std::vector<std::string> mapped;
    for (const auto& [port, device] : readPortOverrides(settings)) {
        table.setOverride(port, device);
        if (!device.empty()) mapped.push_back(device);
    }
    std::map<std::string, std::string> names = comNames(table);
    std::vector<SerialDevice> devices = listSerialDevices(mapped);
    std::vector<PortGrabber> grabbers = runningPortGrabbers();
    std::string library = defaultBridgeLibraryPath();
    bool libraryFound = ::access(library.c_str(), F_OK) == 0;

    auto portOf = [&names](const SerialDevice& d) {
        auto it = names.find(d.path);
        return it == names.end() ? std::string() : it->second;
    };
    // In the order of the port search; devices without a COM name last.
    auto number = [&portOf](const SerialDevice& d) {
        std::string port = portOf(d);
        return port.empty() ? 256 : std::stoi(port.substr(3));
    };
    std::stable_sort(devices.begin(), devices.end(),
                     [&number](const SerialDevice& a, const SerialDevice& b) { return number(a) < number(b); });
    if (json) {
        std::vector<std::string> ports, services;
        for (const SerialDevice& d : devices) ports.push_back(deviceJson(d, portOf(d)));
        for (const PortGrabber& g : grabbers)
            services.push_back(
                JsonObject().number("pid", g.process.pid).text("name", g.process.name).text("advice", g.advice).str());
        std::printf("%s\n", JsonObject()
                                .text("settings", settings)
                                .text("bridgeLibrary", library)
                                .boolean("bridgeLibraryFound", libraryFound)
                                .raw("ports", jsonArray(ports))
                                .raw("services", jsonArray(services))
                                .str()
                                .c_str());
        return ExitOk;
    }

    std::vector<Row> rows;
    for (const SerialDevice& d : devices) {
        std::string port = portOf(d);
        rows.push_back({port.empty() ? "-" : port, d.path, usbText(d), d.driver.empty() ? "-" : d.driver,
                        accessText(d), heldText(d)});
    }
    if (rows.empty()) std::printf("no serial devices\n");
    else printTable(rows);
    bool settingsFound = ::access(settings.c_str(), F_OK) == 0;
    std::printf("\nsettings: %s%s\nbridge library: %s (%s)\n", settings.c_str(),
                settingsFound ? "" : " (not made yet: the window writes it at its first start)", library.c_str(),
                libraryFound ? "found" : "missing");
    for (const PortGrabber& g : grabbers)
        std::printf("note: %s (pid %d): %s\n", g.process.name.c_str(), static_cast<int>(g.process.pid), g.advice.c_str());
    return ExitOk;
}

MubtoolCommand portsCommand("ports", "list serial devices: COM number, adapter, driver, access, holders", &runPorts);

} // namespace
} // namespace mub::tool
