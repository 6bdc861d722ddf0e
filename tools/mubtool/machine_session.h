// What `mubtool upgrade` and `mubtool detect` share: their link options and
// the link they build from them (terminal window, serial channel with the
// port table, bridge library in USB mode).
#pragma once

#include "link/bridge_binding.h"
#include "link/connect_machine.h"
#include "link/machine_link.h"
#include "link/transport.h"
#include "serial/port_table.h"
#include "tools/mubtool/terminal_ui.h"
#include "upgrade/upgrade_log.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mub::tool {

struct SessionArgs {
    std::string port;              // "USB", "COMn" or a device path
    std::string baud = "57600";    // one of the window's baud-rate items
    std::optional<bool> answer;    // --yes / --no
    bool strict = false;           // apply the checks of a title without the production mark
    bool json = false;             // the end report as JSON on stdout, texts for people on stderr
    std::string logPath;           // --log: the upgrade log; empty: upgrades.csv beside the window's cfg.ini
    std::vector<std::string> positional;
    bool help = false;
};

// The index of `baud` among the window's baud-rate items, -1 when it is none.
int baudItemIndex(const std::string& baud);

// "COMn" with n in 1..255 gives n, anything else 0.
int comNumberOf(const std::string& port);

// The window's title, whose production mark relaxes the identity checks;
// with `strict` without the mark, as a window with another title would be.
std::string headlessTitle(bool strict);

// The window's port table: the default one with [Ports] of the window's
// cfg.ini, so that COMn means the same device in both.
PortTable windowPortTable();

// A table with `device` as COM<number> and no other port: a search over it
// opens and probes that device only (on a line with several stations,
// another device may be another machine).
PortTable onePortTable(int number, const std::string& device);

// The upgrade log a command writes: `logOption` (--log), else upgrades.csv
// in the folder of the window's cfg.ini, made when missing.
std::string upgradeLogPathFor(const std::string& logOption);

// Parses --port, --baud, --log and (when `upgradeOptions`) --yes, --no, --strict,
// --json, also as --name=VALUE. False with `error` set on a usage error.
bool parseSessionArgs(const std::vector<std::string>& args, bool upgradeOptions, SessionArgs& out, std::string& error);

class MachineSession {
public:
    explicit MachineSession(const SessionArgs& args);

    // Loads the bridge library in USB mode. False with `error` (UTF-8) when
    // it cannot be loaded.
    bool open(std::string& error);

    TerminalUi& ui() { return *ui_; }
    MachineLink& link() { return *link_; }

    // Appends the command's line to the upgrade log (its port filled in);
    // the first failure is told on stderr and changes nothing else.
    void log(UpgradeLogEntry entry);

    // The identity the machine reported, one line each, to stdout.
    void printMachineInfo(const MachineInfo& machine);

private:
    bool usbMode_ = false;
    std::string port_;
    UpgradeLog log_;
    std::unique_ptr<TerminalUi> ui_;
    BridgeBinding bridge_;
    std::unique_ptr<Transport> transport_;
    std::unique_ptr<MachineLink> link_;
};

} // namespace mub::tool
