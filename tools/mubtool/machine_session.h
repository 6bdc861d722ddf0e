// What `mubtool upgrade` and `mubtool detect` share: their link options and
// the link they build from them (terminal window, serial channel with the
// port table, bridge library in USB mode).
#pragma once

#include "link/bridge_binding.h"
#include "link/connect_machine.h"
#include "link/machine_link.h"
#include "link/transport.h"
#include "tools/mubtool/terminal_ui.h"

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
    std::vector<std::string> positional;
    bool help = false;
};

// Parses --port, --baud and (when `upgradeOptions`) --yes, --no, --strict,
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

    // The identity the machine reported, one line each, to stdout.
    void printMachineInfo(const MachineInfo& machine);

private:
    bool usbMode_ = false;
    std::unique_ptr<TerminalUi> ui_;
    BridgeBinding bridge_;
    std::unique_ptr<Transport> transport_;
    std::unique_ptr<MachineLink> link_;
};

} // namespace mub::tool
