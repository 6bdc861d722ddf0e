// What `mubtool upgrade` and `mubtool detect` share: their link options and
// the session they build from them (the terminal's view, the serial channel
// with the port table, the bridge library in USB mode).
#pragma once

#include "link/bridge_binding.h"
#include "records/record_sender.h"
#include "serial/port_table.h"
#include "tools/mubtool/terminal_view.h"
#include "upgrade/headless_waits.h"
#include "upgrade/upgrade_log.h"
#include "upgrade/upgrade_session.h"

#include <chrono>
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
    CollectorTarget records;       // --send-to, --token: where the log's lines go; none: nowhere
    std::vector<std::string> positional;
    bool help = false;
};

// The --baud lines of a command's usage (the items, the default, and the
// items a COM port opens at 9600), each line led by `indent` spaces after
// the first.
std::string baudOptionHelp(int indent);

// The window's title, the caption of the error boxes; with `strict`
// without the production mark, as a window with another title would be.
std::string headlessTitle(bool strict);

// The window's port table: the default one with [Ports] of the window's
// cfg.ini, so that COMn means the same device in both.
PortTable windowPortTable();

// The upgrade log a command writes: `logOption` (--log), else upgrades.csv
// in the folder of the window's cfg.ini, made when missing.
std::string upgradeLogPathFor(const std::string& logOption);

// Parses --port, --baud, --log, --send-to, --token and (when
// `upgradeOptions`) --yes, --no, --strict, --json, also as --name=VALUE.
// False with `error` set on a usage error.
bool parseSessionArgs(const std::vector<std::string>& args, bool upgradeOptions, SessionArgs& out, std::string& error);

// The --send-to and --token lines of a command's usage.
std::string recordsOptionHelp();

// The records sender of a command with --send-to: sends the log's waiting
// lines while the command runs and, when it ends, gives them up to
// `finishWithin` before it leaves the rest to the next sender (said on
// stderr). Nothing without a collector.
class CommandRecords {
public:
    CommandRecords(UpgradeLog& log, const CollectorTarget& target, std::string command);
    ~CommandRecords();
    RecordSender* sender() const { return sender_.get(); }
    void finish();

    static constexpr std::chrono::seconds finishWithin{5};

private:
    UpgradeLog& log_;
    std::string command_;
    std::unique_ptr<RecordSender> sender_;
};

// The session of `mubtool upgrade` or `mubtool detect`: the terminal's
// view and waits (Ctrl+C is the Stop), the transport the port option names,
// the upgrade log and its records sender. The command's line goes into the
// log with its program, its port as given and the seconds of the whole
// command.
class MachineSession {
public:
    MachineSession(const SessionArgs& args, std::string program);
    // The records sender's last seconds, unless Ctrl+C ended the command.
    ~MachineSession();

    // Loads the bridge library in USB mode. False with `error` (UTF-8) when
    // it cannot be loaded.
    bool open(std::string& error);

    UpgradeSession& session() { return *session_; }
    TerminalView& view() { return *view_; }
    HeadlessWaits& waits() { return waits_; }
    // What an upgrade or a check is given: the baud rate, the checks,
    // the terminal's questions.
    SessionOptions options();

private:
    const SessionArgs& args_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    bool usbMode_ = false;
    UpgradeLog log_;
    HeadlessWaits waits_;
    std::unique_ptr<TerminalView> view_;
    BridgeBinding bridge_;
    std::unique_ptr<UpgradeSession> session_;
    CommandRecords records_;
};

} // namespace mub::tool
