// mubtool station: many machines at once, one loop per port, each with the
// routines the window calls; one line per machine in the upgrade log.
#include "link/baud_rates.h"
#include "platform/gbk_text.h"
#include "platform/usb_serial_ports.h"
#include "station/station_link.h"
#include "station/production_lock.h"
#include "station/station_options.h"
#include "station/station_run.h"
#include "tools/mubtool/command.h"
#include "tools/mubtool/live_terminal.h"
#include "tools/mubtool/machine_session.h"
#include "tools/mubtool/station_board.h"
#include "tools/mubtool/stop_signals.h"
#include "tools/mubtool/upgrade_file_io.h"
#include "upgrade/upgrade_ending.h"
#include "upgrade_file/open_upgrade_file.h"

#include <algorithm>
#include <cstdio>

namespace mub::tool {
namespace {

std::string stationUsage() {
    return
    "usage: mubtool station --ports LIST [--baud N] [--log FILE] [--verify] [--verify-wait S]\n"
    "                       [--count N] [--strict] [--approved FILE] [--json]\n"
    "                       [--send-to URL --token T] FILE.mub\n"
    "\n"
    "Upgrades machines on several ports at once, each port in a loop of its own:\n"
    "wait for a machine, identify it, check its identity against the file as\n"
    "`mubtool upgrade --yes` does, transfer the image and write its line to the\n"
    "upgrade log at once. Then the port waits for the machine to come back from\n"
    "its restart (--verify-wait): one that reports the file's version is back\n"
    "(with --verify a second line, verified); one that answers with another\n"
    "identity is a new machine and is upgraded at once; one that answers as it\n"
    "did before its upgrade is upgraded once more (a new machine of the same\n"
    "kind looks the same), and when that one too still answers so at the end of\n"
    "the wait it is failed (verify-mismatch). A machine that is back, or failed,\n"
    "is waited for until it has gone (no answer for 3 s, the port vanished, or\n"
    "a machine not yet upgraded answers in its place). Runs until Ctrl+C, which\n"
    "stops every port as the Stop button does, or until --count machines are\n"
    "done.\n"
    "\n"
    "options (also as --name=VALUE):\n"
    "  --ports LIST    required: the ports to use, separated by commas; the\n"
    "                  station writes to no other. COMn (1..255) through the\n"
    "                  window's port table ([Ports] of its cfg.ini), a device\n"
    "                  path such as /dev/ttyUSB0 (Linux), or usb: every USB\n"
    "                  serial port that `mubtool ports` shows as open to this\n"
    "                  user (never a port built into the computer). On Windows\n"
    "                  COMn is the system's own port. USB mode (the bridge\n"
    "                  library) serves one device and is not offered here.\n"
    "  --baud N        " + baudOptionHelp(18) +
    "  --log FILE      the upgrade log (default: upgrades.csv in the folder of\n"
    "                  the window's cfg.ini); a log that cannot be written is\n"
    "                  told once and stops nothing\n"
    "  --verify        a second line for every completed upgrade: verified when\n"
    "                  the machine came back with the file's software version,\n"
    "                  verify-mismatch (a failure) as above, unverified (not a\n"
    "                  failure) when it did not answer in time or another\n"
    "                  machine answered first; the machine counts by it\n"
    "  --verify-wait S how long a machine may take to come back (default 60)\n"
    "  --count N       end after N machines in all (failed ones included)\n"
    "  --strict        apply the model and version checks that the production-line\n"
    "                  title skips; the questions are answered yes\n"
    "  --approved FILE take the upgrade file only when its MD5 (of the whole .mub\n"
    "                  file, the log's file_md5) is listed in FILE: one MD5 a\n"
    "                  line, # starts a comment; another file ends with 4\n"
    "  --json          one JSON object per log line on stdout, as `mubtool\n"
    "                  upgrade --json`, with port, transferSeconds and recordId;\n"
    "                  a second line has its upgrade's recordId and softwareAfter;\n"
    "                  the display goes to stderr\n" +
    recordsOptionHelp() +
    "\n"
    "On a terminal each port has a live line (port, state, percent, the machine's\n"
    "identity, seconds in that state) under the lines of finished machines, and a\n"
    "totals line (done, failed, per hour, and with --send-to the log's lines that\n"
    "wait to be sent); redirected, one plain line per event.\n"
    "Outcomes: those of `mubtool upgrade --help`, not-connected for a machine that\n"
    "answered but was not identified, and verified, unverified, verify-mismatch.\n"
    "\n"
    "exit codes:\n"
    "  0   every machine was upgraded (and, with --verify, not found to run\n"
    "      another version)\n"
    "  1   usage error\n"
    "  4   the upgrade file cannot be read or decoded, or is not approved\n"
    "  9   stopped (Ctrl+C) before --count machines were done, none failed\n"
    "  10  at least one machine failed: refused, not identified, a link\n"
    "      failure, given up by the machine, too many time-outs, stopped in\n"
    "      the middle, or another software version after the upgrade (each\n"
    "      machine's own code is in the log and the JSON objects)\n"
    "  12  --ports usb found no USB serial port this user may open\n";
}

int runStationCommand(const std::vector<std::string>& args) {
    StationOptions options;
    std::string error;
    if (!parseStationArgs(args, options, error)) return usageError("station", error);
    if (options.help) {
        std::fputs(stationUsage().c_str(), stdout);
        return ExitOk;
    }

    // The file, decoded once as the window's open command does.
    const UpgradeFileRead read = readUpgradeFileAt(options.file);
    if (!read.ok()) {
        std::fprintf(stderr, "mubtool station: %s: %s\n", options.file.c_str(), utf8(read.failureText()).c_str());
        return ExitFileFailure;
    }
    const UpgradeFile& file = read.file;
    if (!options.approvedPath.empty()) {
        const std::optional<Bytes> bytes = readWholeFile(options.approvedPath);
        std::string why = "cannot be read";
        std::vector<std::string> approved;
        if (!bytes || !readApprovedList(std::string(bytes->begin(), bytes->end()), approved, why))
            return usageError("station", "--approved " + options.approvedPath + ": " + why);
        if (std::find(approved.begin(), approved.end(), file.fileMd5) == approved.end()) {
            std::fprintf(stderr, "mubtool station: %s: not on the approved list %s (its MD5 is %s)\n",
                         options.file.c_str(), options.approvedPath.c_str(), file.fileMd5.c_str());
            return ExitFileFailure;
        }
    }

    std::vector<StationPort> ports;
    switch (resolveStationPorts(options.ports, windowPortTable(), usableUsbSerialPorts, ports, error)) {
    case PortsResult::Ok: break;
    case PortsResult::BadName: return usageError("station", error);
    case PortsResult::NoUsbPort: std::fprintf(stderr, "mubtool station: %s\n", error.c_str()); return ExitNoPort;
    }

    UpgradeLog log(upgradeLogPathFor(options.logPath));
    CommandRecords records(log, options.records, "mubtool station");
    StationBoard::Options display;
    display.display = options.json ? stderr : stdout;
    display.live = liveTerminal(display.display);
    display.columns = display.live ? terminalColumns(display.display) : 0;
    display.json = options.json ? stdout : nullptr;
    if (RecordSender* sender = records.sender()) display.recordsWaiting = [sender] { return sender->waiting(); };
    std::vector<std::string> names;
    for (const StationPort& port : ports) names.push_back(port.name);
    StationModel model(names);
    StationBoard board(model, display);
    StationSlots slots(options.count);
    model.notice("station: " + std::to_string(ports.size()) + " port(s); file " + options.file + " (" +
                 printableUtf8(file.modelId) + " " + printableUtf8(file.hardwareVersion) + " " +
                 printableUtf8(file.softwareVersion) + "); log " + log.path());

    StationJob job;
    job.file = &file;
    job.verify = options.verify;
    job.comeBack = std::chrono::seconds(options.verifySeconds);
    job.log = &log;
    job.model = &model;
    job.machineSlots = &slots;

    catchStopSignals();
    StationRun::Setup setup;
    setup.rule = options.strict ? IdentityRule::Strict : IdentityRule::ProductionLine;
    setup.baudIndex = baudIndexOf(options.baud);
    setup.job = job;
    const PortTable windowTable = windowPortTable();
    StationRun run(setup, std::move(ports));
    run.startAll();
    const bool watchUsb = std::any_of(options.ports.begin(), options.ports.end(), isUsbWord);
    auto nextUsbLook = std::chrono::steady_clock::now() + usbLookEvery;
    // The main thread draws, turns Ctrl+C or the end of the count into the
    // stop of every port, and lets USB ports plugged in later join.
    bool interrupted = false;
    while (run.anyRunning()) {
        board.draw(std::chrono::milliseconds(250));
        if (stopSignalled()) interrupted = true;
        if (interrupted || slots.allFinished()) run.stopAll();
        if (watchUsb && !interrupted && std::chrono::steady_clock::now() >= nextUsbLook) {
            nextUsbLook = std::chrono::steady_clock::now() + usbLookEvery;
            run.join(usbStationPorts(windowTable, usableUsbSerialPorts), true);
        }
    }
    board.close();
    records.finish();

    const StationModel::Totals totals = model.totals();
    if (totals.failed > 0) return ExitSomeFailed;
    if (interrupted && options.count > 0 && totals.done < options.count) return ExitStopped;
    return ExitOk;
}

MubtoolCommand stationCommand("station",
                              "upgrade machines on several ports at once, with the upgrade log (production station)",
                              &runStationCommand);

} // namespace
} // namespace mub::tool
