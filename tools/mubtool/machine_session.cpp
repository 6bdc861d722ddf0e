#include "tools/mubtool/machine_session.h"

#include "app/settings/port_overrides.h"
#include "app/settings/settings_file.h"
#include "app/settings/settings_location.h"
#include "link/bridge_transport.h"
#include "link/serial_transport.h"
#include "platform/gbk_text.h"
#include "tools/mubtool/option_reader.h"
#include "tools/mubtool/port_names.h"
#include "tools/mubtool/terminal.h"
#include "upgrade/program_title.h"

#include <cstdio>
#include <sys/stat.h>

namespace mub::tool {

namespace {

bool isUsb(const std::string& port) { return port == "USB" || port == "usb"; }

// A device path given instead of a COM name is reached as this COM port,
// the only one of the table.
constexpr int devicePathPort = 1;
constexpr int highestPort = 255;

} // namespace

int baudItemIndex(const std::string& baud) {
    for (std::size_t i = 0; i < baudRateTexts.size(); ++i)
        if (baud == baudRateTexts[i]) return static_cast<int>(i);
    return -1;
}

int comNumberOf(const std::string& port) {
    if (port.size() < 4 || port.compare(0, 3, "COM") != 0) return 0;
    int n = 0;
    for (std::size_t i = 3; i < port.size(); ++i) {
        if (port[i] < '0' || port[i] > '9' || n > 255) return 0;
        n = n * 10 + (port[i] - '0');
    }
    return n >= 1 && n <= 255 ? n : 0;
}

std::string headlessTitle(bool strict) {
    const std::string title = programTitle();
    return strict ? title.substr(0, title.size() - lastBytes(title, 8).size()) : title;
}

PortTable windowPortTable() {
    PortTable ports;
    loadPortOverrides(existingSettingsPath(programFolder()), ports);
    return ports;
}

PortTable onePortTable(int number, const std::string& device) {
    PortTable ports;
    for (int port = 1; port <= highestPort; ++port) ports.setOverride(port, port == number ? device : "");
    return ports;
}

bool parseSessionArgs(const std::vector<std::string>& args, bool upgradeOptions, SessionArgs& out, std::string& error) {
    OptionReader reader(args);
    auto value = [&](std::string& target) { return reader.value(target, error); };
    auto flag = [&](bool& target) { return reader.flag(target, error); };
    while (reader.next()) {
        const std::string& arg = reader.name();
        if (arg == "--help" || arg == "-h") {
            out.help = true;
        } else if (arg == "--port") {
            if (!value(out.port)) return false;
        } else if (arg == "--baud") {
            if (!value(out.baud)) return false;
        } else if (arg == "--log") {
            if (!reader.nonEmptyValue(out.logPath, "a file", error)) return false;
        } else if (upgradeOptions && (arg == "--yes" || arg == "--no")) {
            const bool yes = arg == "--yes";
            bool given = false;
            if (!flag(given)) return false;
            if (out.answer && *out.answer != yes) {
                error = "--yes and --no exclude each other";
                return false;
            }
            out.answer = yes;
        } else if (upgradeOptions && arg == "--strict") {
            if (!flag(out.strict)) return false;
        } else if (upgradeOptions && arg == "--json") {
            if (!flag(out.json)) return false;
        } else if (reader.isOption()) {
            error = "unknown option " + reader.given();
            return false;
        } else {
            out.positional.push_back(arg);
        }
    }
    if (out.help) return true;
    if (out.port.empty()) {
        error = "--port is required (USB, COMn or a device path)";
        return false;
    }
    if (!isUsb(out.port) && comNumberOf(out.port) == 0) {
        struct stat info {};
        if (!devicePathsReachPorts() || out.port.find('/') == std::string::npos ||
            ::stat(out.port.c_str(), &info) != 0) {
            error = "--port " + out.port + ": not USB, COM1..COM255 or an existing device path";
            return false;
        }
    }
    if (baudItemIndex(out.baud) < 0) {
        error = "--baud " + out.baud + ": one of 4800 9600 19200 38400 51200 57600 102400 115200";
        return false;
    }
    return true;
}

std::string upgradeLogPathFor(const std::string& logOption) {
    return logOption.empty() ? upgradeLogPathIn(writableFolder(programFolder())) : logOption;
}

MachineSession::MachineSession(const SessionArgs& args)
    : usbMode_(isUsb(args.port)), port_(args.port), log_(upgradeLogPathFor(args.logPath)) {
    TerminalUi::Options options;
    // The production mark at the end of the title relaxes the identity
    // checks; --strict drops it, as a window with another title would.
    options.title = headlessTitle(args.strict);
    options.baudText = args.baud;
    options.baudIndex = baudItemIndex(args.baud);
    options.answer = args.answer;
    options.progressBar = isTerminal(2);
    options.askOnTerminal = isTerminal(0);
    // With a machine-readable report on stdout the texts for people go to stderr.
    ui_ = std::make_unique<TerminalUi>(options, args.json ? stderr : stdout);

    std::string portName = "COM1";
    if (usbMode_) {
        transport_ = std::make_unique<BridgeTransport>(&bridge_);
    } else {
        PortTable ports;
        if (comNumberOf(args.port) != 0) {
            ports = windowPortTable();
            portName = args.port;
        } else {
            ports = onePortTable(devicePathPort, args.port);
            portName = "COM" + std::to_string(devicePathPort);
        }
        transport_ = std::make_unique<SerialTransport>(*ui_, ports);
    }
    link_ = std::make_unique<MachineLink>(*ui_, *transport_);
    link_->portName = portName;
}

bool MachineSession::open(std::string& error) {
    if (!usbMode_) return true;
    if (bridge_.load()) return true;
    // The operator's box of the window, then the details.
    ui_->errorBox(bridge_.operatorText());
    error = bridge_.error();
    return false;
}

void MachineSession::log(UpgradeLogEntry entry) {
    entry.port = port_;
    const UpgradeLog::Result result = log_.append(entry);
    if (result.firstFailure) {
        ui_->finish();
        std::fprintf(stderr, "mubtool: upgrade log %s: %s (nothing else is affected)\n", log_.path().c_str(),
                     result.firstFailure->c_str());
        std::fflush(stderr);
    }
}

void MachineSession::printMachineInfo(const MachineInfo& machine) {
    ui_->finish();
    std::fprintf(ui_->out(), "%s: %s\n%s: %s\n%s: %s\n", "机器型号", printableUtf8(machine.model).c_str(), "硬件版本",
                 printableUtf8(machine.hardware).c_str(), "软件版本", printableUtf8(machine.software).c_str());
    std::fflush(ui_->out());
}

} // namespace mub::tool
