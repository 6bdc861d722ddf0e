// mubtool detect: the window's model check without the window. Connects,
// prints the machine's identity, tells the machine no upgrade follows.
#include "platform/gbk_text.h"
#include "tools/mubtool/command.h"
#include "tools/mubtool/machine_session.h"
#include "upgrade/detect_model.h"
#include "upgrade/upgrade_ending.h"
#include "upgrade_file/upgrade_file.h"

#include <chrono>
#include <cstdio>

namespace mub::tool {
namespace {

enum : int { ExitLinkFailure = 6 };

constexpr const char* detectUsage =
    "usage: mubtool detect --port PORT [--baud N] [--log FILE]\n"
    "\n"
    "Connects the machine and prints its model, hardware version and software\n"
    "version (one 'name: value' per line), as the window's model check does.\n"
    "\n"
    "options (also as --name=VALUE):\n"
    "  --port PORT   USB (the bridge library beside mubtool); COMn (1..255): the\n"
    "                window's search, starting at COMn and going on through the\n"
    "                port table ([Ports] of the window's cfg.ini, else the\n"
    "                default table); or a device path such as /dev/ttyUSB0: only\n"
    "                that device is opened and probed, no other port is tried\n"
    "  --baud N      4800 9600 19200 38400 51200 57600 (default) 102400 115200\n"
    "  --log FILE    the upgrade log that gets the check's line (default:\n"
    "                upgrades.csv in the folder of the window's cfg.ini)\n"
    "\n"
    "The message-pane texts go to stdout (UTF-8), message boxes to stderr.\n"
    "Ctrl+C stops the check.\n"
    "\n"
    "exit codes:\n"
    "  0  the machine was identified\n"
    "  1  usage error\n"
    "  6  the machine was not reached or not identified, or the bridge library\n"
    "     cannot be loaded\n"
    "  9  stopped (Ctrl+C)\n";

int runDetectCommand(const std::vector<std::string>& args) {
    SessionArgs options;
    std::string error;
    if (!parseSessionArgs(args, false, options, error) || (!options.help && !options.positional.empty())) {
        std::fprintf(stderr, "mubtool detect: %s\n\n%s", error.empty() ? "no file or other argument is taken" : error.c_str(),
                     detectUsage);
        return ExitUsage;
    }
    if (options.help) {
        std::fputs(detectUsage, stdout);
        return ExitOk;
    }

    MachineSession session(options);
    if (!session.open(error)) {
        std::fprintf(stderr, "mubtool detect: %s\n", error.c_str());
        return ExitLinkFailure;
    }
    TerminalUi& ui = session.ui();
    MachineLink& link = session.link();
    const UpgradeFile noFile;

    // Ctrl+C is the second click on the button, handled inside a pause.
    ui.catchStopSignals();
    ui.onStop = [&] { detectModel(link, noFile); };

    const auto start = std::chrono::steady_clock::now();
    const std::optional<MachineInfo> identified = detectModel(link, noFile);
    // A Ctrl+C wins, also one that came during the identification tone.
    if (identified && !ui.stopRequested()) session.printMachineInfo(*identified);
    ui.finish();
    const Ending ending = checkEnding(identified && !ui.stopRequested(), ui.stopRequested());
    UpgradeLogEntry entry;
    entry.program = "mubtool detect";
    describeMachine(entry, identified);
    entry.outcome = ending.outcome;
    entry.exitCode = ending.exitCode;
    entry.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    session.log(entry);
    return ending.exitCode;
}

MubtoolCommand detectCommand("detect", "connect the machine and print its model and versions (headless model check)",
                             &runDetectCommand);

} // namespace
} // namespace mub::tool
