// mubtool detect: the window's model check without the window. Connects,
// prints the machine's identity, tells the machine no upgrade follows.
#include "tools/mubtool/command.h"
#include "tools/mubtool/machine_session.h"
#include "tools/mubtool/stop_signals.h"

#include <cstdio>

namespace mub::tool {
namespace {

std::string detectUsage() {
    return
    "usage: mubtool detect --port PORT [--baud N] [--log FILE] [--send-to URL --token T]\n"
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
    "  --baud N      " + baudOptionHelp(16) +
    "  --log FILE    the upgrade log that gets the check's line (default:\n"
    "                upgrades.csv in the folder of the window's cfg.ini)\n" +
    recordsOptionHelp() +
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
}

int runDetectCommand(const std::vector<std::string>& args) {
    SessionArgs options;
    std::string error;
    if (!parseSessionArgs(args, false, options, error)) return usageError("detect", error);
    if (!options.help && !options.positional.empty())
        return usageError("detect", "takes no file or other argument, given: " + options.positional[0]);
    if (options.help) {
        std::fputs(detectUsage().c_str(), stdout);
        return ExitOk;
    }

    MachineSession command(options, "mubtool detect");
    if (!command.open(error)) {
        std::fprintf(stderr, "mubtool detect: %s\n", error.c_str());
        return ExitLinkFailure;
    }
    UpgradeSession& session = command.session();
    const SessionOptions checkOptions = command.options();

    // Ctrl+C is the second click on the button, handled inside a pause.
    catchStopSignals();
    command.waits().onStop = [&] { session.check(checkOptions, false); };
    const SessionResult result = *session.check(checkOptions, false);
    command.view().finish();
    return result.ending.exitCode;
}

MubtoolCommand detectCommand("detect", "connect the machine and print its model and versions (headless model check)",
                             &runDetectCommand);

} // namespace
} // namespace mub::tool
