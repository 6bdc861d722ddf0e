// mubtool upgrade: the window's upgrade toggle without the window. Decodes
// the file, connects and identifies the machine, runs the upgrade and closes
// the link, with the same routines the window calls.
#include "link/connect_machine.h"
#include "link/protocol.h"
#include "platform/gbk_text.h"
#include "tools/mubtool/command.h"
#include "tools/mubtool/machine_session.h"
#include "tools/mubtool/upgrade_end_report.h"
#include "upgrade/run_upgrade.h"
#include "upgrade/upgrade_ending.h"
#include "upgrade_file/decode_upgrade_file.h"
#include "upgrade_file/md5.h"
#include "upgrade_file/open_upgrade_file.h"

#include <chrono>
#include <cstdio>

namespace mub::tool {
namespace {

constexpr const char* upgradeUsage =
    "usage: mubtool upgrade --port PORT [--baud N] [--yes|--no] [--strict] [--json] [--log FILE] FILE.mub\n"
    "\n"
    "Writes the firmware of FILE.mub into the machine, as the window's upgrade\n"
    "button does: connect and identify the machine, check its identity against\n"
    "the file, transfer the image in acknowledged blocks, report the time taken.\n"
    "\n"
    "options (also as --name=VALUE):\n"
    "  --port PORT   USB (the bridge library beside mubtool); COMn (1..255): the\n"
    "                window's search, starting at COMn and going on through the\n"
    "                port table ([Ports] of the window's cfg.ini, else the\n"
    "                default table); or a device path such as /dev/ttyUSB0: only\n"
    "                that device is opened and probed, no other port is tried\n"
    "                Bridge library: libBridgeMini.so on Linux; BridgeMini.dll on\n"
    "                Windows, where the 32-bit mubtool.exe loads a 32-bit (stdcall)\n"
    "                library and the 64-bit one a 64-bit library. On Windows COMn\n"
    "                is the system's own COM port (no table, no device paths)\n"
    "  --baud N      4800 9600 19200 38400 51200 57600 (default) 102400 115200\n"
    "  --yes, --no   answer the same-version and older-version questions; without\n"
    "                them the questions are asked on the terminal, and refused\n"
    "                when stdin is not a terminal\n"
    "  --strict      apply the model and version checks that the production-line\n"
    "                title skips\n"
    "  --json        print the end report as one JSON object on stdout (below);\n"
    "                every other text goes to stderr\n"
    "  --log FILE    the upgrade log that gets the run's line (default:\n"
    "                upgrades.csv in the folder of the window's cfg.ini); a log\n"
    "                that cannot be written is told on stderr and changes nothing\n"
    "\n"
    "The message-pane texts go to stdout (UTF-8), message boxes to stderr; a\n"
    "progress bar is drawn on stderr when it is a terminal. The report ends with\n"
    "'blocks: A of B, time-outs: T, rejected blocks: R'; when T or R is not 0 a\n"
    "block may have been stored twice (the machine's one-byte reply carries no\n"
    "block number): check the machine, and upgrade again if in doubt. Ctrl+C\n"
    "stops the run and closes the link.\n"
    "\n"
    "JSON report (--json; not for usage errors): outcome, exitCode, blocks,\n"
    "blocksTotal, timeouts, rejectedBlocks, elapsedSeconds (the whole command)\n"
    "and machine ({model, hardware, software}, or null when not identified).\n"
    "outcome: completed, file-failure, bridge-unavailable, not-connected,\n"
    "empty-image, hardware-mismatch, model-mismatch, same-version-declined,\n"
    "older-version-declined, unanswered, link-lost, image-too-large,\n"
    "checksum-failed, too-many-failures or stopped.\n"
    "\n"
    "exit codes:\n"
    "  0  the whole image was acknowledged and the completion report written\n"
    "  1  usage error\n"
    "  4  the upgrade file cannot be read or decoded\n"
    "  5  refused: identity mismatch, empty image, or a question answered No\n"
    "  6  link failure: machine not reached or identified, a send failed, or the\n"
    "     bridge library cannot be loaded\n"
    "  7  the machine gave up (image too large 0x18, or checksum error 0x04)\n"
    "  8  too many time-outs or rejected blocks\n"
    "  9  stopped (Ctrl+C)\n";

// The command's line in the upgrade log.
void logUpgrade(MachineSession& session, const UpgradeFile& file, const UpgradeEndReport& r) {
    UpgradeLogEntry entry;
    entry.program = "mubtool upgrade";
    describeFile(entry, file.path, file);
    if (!file.loaded) entry.imageMd5.clear(); // no image was decoded
    entry.model = r.model;
    entry.hardware = r.hardware;
    entry.softwareBefore = r.software;
    entry.outcome = r.outcome;
    entry.exitCode = r.exitCode;
    entry.blocksDone = r.blocks;
    entry.blocksTotal = r.blocksTotal;
    entry.timeouts = r.timeouts;
    entry.rejectedBlocks = r.rejectedBlocks;
    entry.seconds = r.elapsedSeconds;
    session.log(entry);
}

// Ends the command: its line in the upgrade log (unless the run logged it
// as it completed), the counts for people, the JSON object for scripts.
int finishWith(const SessionArgs& options, MachineSession& session, const UpgradeFile& file, TerminalUi* ui,
               UpgradeEndReport report, Ending ending, std::chrono::steady_clock::time_point start,
               bool logged = false) {
    report.outcome = ending.outcome;
    report.exitCode = ending.exitCode;
    report.elapsedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!logged) logUpgrade(session, file, report);
    if (ui) {
        std::fprintf(ui->out(), "%s\n", endReportLine(report).c_str());
        std::fflush(ui->out());
    }
    if (options.json) {
        std::printf("%s\n", endReportJson(report).c_str());
        std::fflush(stdout);
    }
    return ending.exitCode;
}

int runUpgradeCommand(const std::vector<std::string>& args) {
    SessionArgs options;
    std::string error;
    if (!parseSessionArgs(args, true, options, error) || (!options.help && options.positional.size() != 1)) {
        std::fprintf(stderr, "mubtool upgrade: %s\n\n%s", error.empty() ? "one FILE.mub is required" : error.c_str(),
                     upgradeUsage);
        return ExitUsage;
    }
    if (options.help) {
        std::fputs(upgradeUsage, stdout);
        return ExitOk;
    }
    const auto start = std::chrono::steady_clock::now();

    MachineSession session(options);
    TerminalUi& ui = session.ui();
    MachineLink& link = session.link();

    // The file, decoded as the window's open command does.
    const std::string& path = options.positional[0];
    bool inUse = false;
    const Bytes fileBytes = readUpgradeFileBytesAt(path, &inUse);
    const DecodeResult decoded = decodeUpgradeFile(fileBytes);
    UpgradeEndReport end;
    UpgradeFile file;
    file.path = path;
    file.fileMd5 = fileBytes.empty() ? std::string() : md5Hex(fileBytes);
    if (!decoded.ok()) {
        ui.errorBox(inUse ? fileInUseText() : decodeFailureText(*decoded.failure));
        return finishWith(options, session, file, nullptr, end, {"file-failure", EndFileFailure}, start);
    }
    file.modelId = decoded.modelId;
    file.hardwareVersion = decoded.hardwareVersion;
    file.softwareVersion = decoded.softwareVersion;
    file.image = decoded.image;
    file.loaded = true;
    end.blocksTotal = static_cast<std::uint32_t>(blocksFor(file.image.size()));

    if (!session.open(error)) {
        std::fprintf(stderr, "mubtool upgrade: %s\n", error.c_str());
        return finishWith(options, session, file, nullptr, end, {"bridge-unavailable", EndLinkFailure}, start);
    }

    // Ctrl+C is the Stop press of the toggle: the run ends and the link is
    // closed under it, so no wait goes on for a machine that keeps talking.
    ui.catchStopSignals();
    ui.onStop = [&] {
        ui.setMessage(gbk("升级被停止！"));
        link.running = false;
        link.closeTransport();
    };

    link.running = true;
    ui.setCaption(Control::UpgradeButton, gbk("停止"));
    ui.setEnabled(Control::DetectModelButton, false);
    UpgradeReport report;
    report.onBlockAccepted = [&](std::uint64_t bytes) { ui.transferProgress(bytes, file.image.size()); };
    const std::optional<MachineInfo> machine = connectMachine(link);
    const bool connected = machine.has_value();
    if (connected) {
        end.model = machine->model;
        end.hardware = machine->hardware;
        end.software = machine->software;
    }
    // A completed run is logged before it shows its completion.
    bool logged = false;
    report.onCompleting = [&](const UpgradeReport& done) {
        UpgradeEndReport record = end;
        record.outcome = "completed";
        record.exitCode = EndOk;
        record.blocks = done.blocksDone;
        record.timeouts = done.timeouts;
        record.rejectedBlocks = done.rejectedBlocks;
        record.elapsedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        logUpgrade(session, file, record);
        logged = true;
    };
    // After a Ctrl+C (during the identification tone, say) the pane's last
    // text stays the Stop's.
    if (connected && !ui.stopRequested()) session.printMachineInfo(*machine);
    const bool completed = connected && runUpgrade(link, file, *machine, &report);

    // The toggle's finish: the run is over, the link released.
    link.running = false;
    link.closeTransport();
    ui.setCaption(Control::UpgradeButton, gbk("升级(F8)"));
    ui.finish();

    end.blocks = report.blocksDone;
    end.timeouts = report.timeouts;
    end.rejectedBlocks = report.rejectedBlocks;
    const Ending ending =
        upgradeEnding(connected, completed, report.outcome, ui.stopRequested(), ui.questionUnanswered());
    return finishWith(options, session, file, &ui, end, ending, start, logged);
}

MubtoolCommand upgradeCommand("upgrade", "write an upgrade file's firmware into the machine (headless upgrade button)",
                              &runUpgradeCommand);

} // namespace
} // namespace mub::tool
