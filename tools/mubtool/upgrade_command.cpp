// mubtool upgrade: the window's upgrade toggle without the window. Decodes
// the file, connects and identifies the machine, runs the upgrade and closes
// the link, with the same routines the window calls.
#include "link/protocol.h"
#include "tools/mubtool/command.h"
#include "tools/mubtool/machine_session.h"
#include "tools/mubtool/stop_signals.h"
#include "tools/mubtool/upgrade_end_report.h"
#include "upgrade/run_upgrade.h"
#include "upgrade/upgrade_ending.h"
#include "upgrade_file/open_upgrade_file.h"

#include <chrono>
#include <cstdio>

namespace mub::tool {
namespace {

std::string upgradeUsage() {
    return
    "usage: mubtool upgrade --port PORT [--baud N] [--yes|--no] [--strict] [--json] [--log FILE]\n"
    "                       [--send-to URL --token T] FILE.mub\n"
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
    "  --baud N      " + baudOptionHelp(16) +
    "  --yes, --no   answer the same-version and older-version questions; without\n"
    "                them the questions are asked on the terminal, and refused\n"
    "                when stdin is not a terminal\n"
    "  --strict      apply the model and version checks that the production-line\n"
    "                title skips\n"
    "  --json        print the end report as one JSON object on stdout (below);\n"
    "                every other text goes to stderr\n"
    "  --log FILE    the upgrade log that gets the run's line (default:\n"
    "                upgrades.csv in the folder of the window's cfg.ini); a log\n"
    "                that cannot be written is told on stderr and changes nothing\n" +
    recordsOptionHelp() +
    "\n"
    "The message-pane texts go to stdout (UTF-8), message boxes to stderr; a\n"
    "progress bar is drawn on stderr when it is a terminal. The report ends with\n"
    "'blocks: A of B, time-outs: T, rejected blocks: R'; when T or R is not 0 a\n"
    "block may have been stored twice (the machine's one-byte reply carries no\n"
    "block number): check the machine, and upgrade again if in doubt. Ctrl+C\n"
    "stops the run and closes the link.\n"
    "\n"
    "JSON report (--json; not for usage errors): outcome, exitCode, blocks,\n"
    "blocksTotal, timeouts, rejectedBlocks, elapsedSeconds (the whole command),\n"
    "machine ({model, hardware, software}, or null when not identified) and\n"
    "programVersion (as `mubtool --version`).\n"
    "outcome: completed, why the file cannot be used (file-not-found,\n"
    "file-is-folder, file-no-permission, file-in-use, file-empty,\n"
    "file-too-large, file-not-regular, file-read-error, file-failure: see\n"
    "`mubtool info --help`), bridge-unavailable, not-connected,\n"
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
    "  8  too many time-outs or rejected blocks: the " + std::to_string(failuresInARowAllowed + 1) +
    "th failure in a row or the " + std::to_string(failuresInAllAllowed + 1) + "th in all\n"
    "  9  stopped (Ctrl+C)\n";
}

// Ends the command: the counts for people, the JSON object for scripts.
// The session has written the command's line to the upgrade log.
int finishWith(const SessionArgs& options, TerminalView* view, UpgradeEndReport report, Ending ending,
               std::chrono::steady_clock::time_point start) {
    report.outcome = ending.outcome;
    report.exitCode = ending.exitCode;
    report.elapsedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (view) {
        std::fprintf(view->out(), "%s\n", endReportLine(report).c_str());
        std::fflush(view->out());
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
    if (!parseSessionArgs(args, true, options, error)) return usageError("upgrade", error);
    if (!options.help && options.positional.size() != 1)
        return usageError("upgrade", options.positional.empty() ? "one FILE.mub is required"
                                                                : "one FILE.mub only, also given: " + options.positional[1]);
    if (options.help) {
        std::fputs(upgradeUsage().c_str(), stdout);
        return ExitOk;
    }
    const auto start = std::chrono::steady_clock::now();

    MachineSession command(options, "mubtool upgrade");
    TerminalView& view = command.view();
    UpgradeSession& session = command.session();

    // The file, decoded as the window's open command does.
    const UpgradeFileRead read = readUpgradeFileAt(options.positional[0]);
    const UpgradeFile& file = read.file;
    UpgradeEndReport end;
    if (!read.ok()) {
        view.errorBox(read.failureText());
        const Ending failed{read.failureOutcome(), EndFileFailure};
        session.logWithoutMachine(failed, &file);
        return finishWith(options, nullptr, end, failed, start);
    }
    end.blocksTotal = static_cast<std::uint32_t>(blocksFor(file.image.size()));

    if (!command.open(error)) {
        std::fprintf(stderr, "mubtool upgrade: %s\n", error.c_str());
        const Ending unavailable{"bridge-unavailable", EndLinkFailure};
        session.logWithoutMachine(unavailable, &file);
        return finishWith(options, nullptr, end, unavailable, start);
    }

    // Ctrl+C is the Stop press of the toggle: the run ends and the link is
    // closed under it, so no wait goes on for a machine that keeps talking.
    catchStopSignals();
    command.waits().onStop = [&] { session.stopUpgrade(); };
    const SessionResult result = *session.upgrade(file, command.options());
    view.finish();

    if (result.machine) {
        end.model = result.machine->model;
        end.hardware = result.machine->hardware;
        end.software = result.machine->software;
    }
    end.blocks = result.report.blocksDone;
    end.timeouts = result.report.timeouts;
    end.rejectedBlocks = result.report.rejectedBlocks;
    return finishWith(options, &view, end, result.ending, start);
}
MubtoolCommand upgradeCommand("upgrade", "write an upgrade file's firmware into the machine (headless upgrade button)",
                              &runUpgradeCommand);

} // namespace
} // namespace mub::tool
