#include "tools/mubtool/machine_session.h"

#include "app/settings/port_overrides.h"
#include "app/settings/settings_file.h"
#include "app/settings/settings_location.h"
#include "link/baud_rates.h"
#include "platform/gbk_text.h"
#include "platform/option_reader.h"
#include "tools/mubtool/stop_signals.h"
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

} // namespace

std::string baudOptionHelp(int indent) {
    return baudRateList(true) + "\n" + std::string(static_cast<std::size_t>(indent), ' ') + ratesComPortsIgnore() +
           ": the bridge library's rates; a COM port opens at 9600 with them\n";
}

std::string headlessTitle(bool strict) { return strict ? titleWithoutMark() : programTitle(); }

PortTable windowPortTable() {
    PortTable ports;
    loadPortOverrides(existingSettingsPath(programFolder()), ports);
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
        } else if (arg == "--send-to") {
            if (!reader.nonEmptyValue(out.records.address, "the collector's address", error)) return false;
        } else if (arg == "--token") {
            if (!reader.nonEmptyValue(out.records.token, "a token", error)) return false;
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
    if (error = collectorTargetProblem(out.records); !error.empty()) return false;
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
    if (baudIndexOf(out.baud) < 0) {
        error = badBaudText(out.baud);
        return false;
    }
    return true;
}

std::string upgradeLogPathFor(const std::string& logOption) {
    return logOption.empty() ? upgradeLogPathIn(writableFolder(programFolder())) : logOption;
}

std::string recordsOptionHelp() {
    return "  --send-to URL the collector the upgrade log's lines are sent to (mub-collector,\n"
           "                http://HOST:PORT); every line of the log that it has not\n"
           "                acknowledged yet goes, whichever program wrote it. Lines\n"
           "                that still wait at the end get up to 5 s, then are left to\n"
           "                the next sender (a window, a station, `mubtool send`)\n"
           "  --token T     this station's token at the collector (with --send-to)\n";
}

CommandRecords::CommandRecords(UpgradeLog& log, const CollectorTarget& target, std::string command)
    : log_(log), command_(std::move(command)) {
    if (!target.configured()) return;
    RecordSender::Setup setup;
    setup.logPath = log.path();
    setup.target = target;
    sender_ = std::make_unique<RecordSender>(std::move(setup));
    log_.onWritten([sender = sender_.get()] { sender->wake(); });
}

CommandRecords::~CommandRecords() {
    log_.onWritten({});
    sender_.reset();
}

void CommandRecords::finish() {
    if (!sender_ || sender_->finish(finishWithin)) return;
    std::string why = sender_->problem();
    if (why.empty()) why = "the collector did not answer within " + std::to_string(finishWithin.count()) + " s";
    why = " (" + why + ")";
    std::fprintf(stderr, "%s: %zu line(s) of %s wait to be sent%s; the next sender sends them\n", command_.c_str(),
                 waitingRecordLines(log_.path()), log_.path().c_str(), why.c_str());
}

MachineSession::MachineSession(const SessionArgs& args, std::string program)
    : args_(args), usbMode_(isUsb(args.port)), log_(upgradeLogPathFor(args.logPath)), waits_(stopSignalled),
      records_(log_, args.records, program) {
    TerminalView::Options options;
    options.title = headlessTitle(args.strict);
    options.answer = args.answer;
    options.progressBar = isTerminal(2);
    options.askOnTerminal = isTerminal(0);
    options.logPath = log_.path();
    // With a machine-readable report on stdout the texts for people go to stderr.
    view_ = std::make_unique<TerminalView>(options, waits_, args.json ? stderr : stdout);

    LinkChoice choice;
    choice.usb = usbMode_;
    choice.bridge = &bridge_;
    if (!usbMode_) {
        if (comNumberOf(args.port) != 0) {
            choice.ports = windowPortTable();
            choice.portName = args.port;
        } else {
            choice.ports = onePortTable(devicePathPort, args.port);
            choice.portName = "COM" + std::to_string(devicePathPort);
        }
    }
    SessionLog sessionLog;
    sessionLog.log = &log_;
    sessionLog.describe = [this, program = std::move(program)](UpgradeLogEntry& entry) {
        entry.program = program;
        entry.port = args_.port;
        // The file's path as the shell gave it, not converted from GBK.
        if (!entry.file.empty() && !args_.positional.empty()) entry.file = args_.positional[0];
        entry.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    };
    session_ = std::make_unique<UpgradeSession>(waits_, choice, *view_, sessionLog);
    // A Ctrl+C ends the wait under way at once.
    onStopSignal([this] { waits_.interrupt(); });
}

MachineSession::~MachineSession() {
    onStopSignal({});
    if (!stopSignalled()) records_.finish();
}

bool MachineSession::open(std::string& error) {
    if (!usbMode_) return true;
    if (bridge_.load()) return true;
    // The operator's box of the window, then the details.
    view_->errorBox(bridge_.operatorText());
    error = bridge_.error();
    return false;
}

SessionOptions MachineSession::options() {
    SessionOptions options;
    options.baudIndex = baudIndexOf(args_.baud);
    // The production mark at the end of the title relaxes the identity
    // checks; --strict drops it, as a window with another title would.
    options.rule = args_.strict ? IdentityRule::Strict : IdentityRule::ProductionLine;
    options.ask = [this](const SessionEvent& question) { return view_->ask(question); };
    return options;
}

} // namespace mub::tool
