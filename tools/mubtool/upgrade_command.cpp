// mubtool upgrade: the window's upgrade toggle without the window. Decodes
// the file, connects and identifies the machine, runs the upgrade and closes
// the link, with the same routines the window calls.
#include "link/connect_machine.h"
#include "platform/gbk_text.h"
#include "tools/mubtool/command.h"
#include "tools/mubtool/machine_session.h"
#include "upgrade/run_upgrade.h"
#include "upgrade_file/decode_upgrade_file.h"
#include "upgrade_file/open_upgrade_file.h"

#include <cstdio>

namespace mub::tool {
namespace {

enum : int {
    ExitFileFailure = 4,
    ExitRefused = 5,
    ExitLinkFailure = 6,
    ExitMachineFailure = 7,
    ExitTimeoutLimit = 8,
    ExitStopped = 9,
};

constexpr const char* kUsage =
    "usage: mubtool upgrade --port PORT [--baud N] [--yes|--no] [--strict] FILE.mub\n"
    "\n"
    "Writes the firmware of FILE.mub into the machine, as the window's upgrade\n"
    "button does: connect and identify the machine, check its identity against\n"
    "the file, transfer the image in acknowledged blocks, report the time taken.\n"
    "\n"
    "options (also as --name=VALUE):\n"
    "  --port PORT   USB (the bridge library beside mubtool), COMn (1..255, through\n"
    "                the port table) or a device path such as /dev/ttyUSB0\n"
    "  --baud N      4800 9600 19200 38400 51200 57600 (default) 102400 115200\n"
    "  --yes, --no   answer the same-version and older-version questions; without\n"
    "                them the questions are asked on the terminal, and refused\n"
    "                when stdin is not a terminal\n"
    "  --strict      apply the model and version checks that the production-line\n"
    "                title skips\n"
    "\n"
    "The message-pane texts go to stdout (UTF-8), message boxes to stderr; a\n"
    "progress bar is drawn on stderr when it is a terminal. Ctrl+C stops the run\n"
    "and closes the link.\n"
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

int exitCodeOf(UpgradeOutcome outcome) {
    switch (outcome) {
    case UpgradeOutcome::Completed: return ExitOk;
    case UpgradeOutcome::EmptyImage:
    case UpgradeOutcome::HardwareMismatch:
    case UpgradeOutcome::ModelMismatch:
    case UpgradeOutcome::SameVersionDeclined:
    case UpgradeOutcome::OlderVersionDeclined: return ExitRefused;
    case UpgradeOutcome::LinkLost: return ExitLinkFailure;
    case UpgradeOutcome::ImageTooLarge:
    case UpgradeOutcome::ChecksumFailed: return ExitMachineFailure;
    case UpgradeOutcome::TooManyFailures: return ExitTimeoutLimit;
    case UpgradeOutcome::Stopped: return ExitStopped;
    }
    return ExitLinkFailure;
}

int runUpgradeCommand(const std::vector<std::string>& args) {
    SessionArgs options;
    std::string error;
    if (!parseSessionArgs(args, true, options, error) || (!options.help && options.positional.size() != 1)) {
        std::fprintf(stderr, "mubtool upgrade: %s\n\n%s", error.empty() ? "one FILE.mub is required" : error.c_str(), kUsage);
        return ExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return ExitOk;
    }

    MachineSession session(options);
    TerminalUi& ui = session.ui();
    MachineLink& link = session.link();

    // The file, decoded as the window's open command does.
    const std::string& path = options.positional[0];
    const DecodeResult decoded = decodeUpgradeFile(readUpgradeFileBytesAt(path));
    if (!decoded.ok()) {
        ui.errorBox(decodeFailureText(*decoded.failure));
        return ExitFileFailure;
    }
    UpgradeFile file;
    file.path = path;
    file.modelId = decoded.modelId;
    file.hardwareVersion = decoded.hardwareVersion;
    file.softwareVersion = decoded.softwareVersion;
    file.image = decoded.image;
    file.loaded = true;

    if (!session.open(error)) {
        std::fprintf(stderr, "mubtool upgrade: %s\n", error.c_str());
        return ExitLinkFailure;
    }

    // Ctrl+C is the Stop press of the toggle.
    ui.catchStopSignals();
    ui.onStop = [&] {
        ui.setMessage(gbk("升级被停止！"));
        link.running = false;
    };

    link.running = true;
    ui.setCaption(Control::UpgradeButton, gbk("停止"));
    ui.setEnabled(Control::DetectModelButton, false);
    UpgradeReport report;
    report.onBlockAccepted = [&](std::uint64_t bytes) { ui.transferProgress(bytes, file.image.size()); };
    const bool connected = connectMachine(link);
    if (connected) session.printMachineInfo();
    const bool completed = connected && runUpgrade(link, file, &report);

    // The toggle's finish: the run is over, the link released.
    link.running = false;
    link.closeTransport();
    ui.setCaption(Control::UpgradeButton, gbk("升级(F8)"));
    ui.finish();

    if (completed) return ExitOk;
    if (ui.stopRequested()) return ExitStopped;
    if (!connected) return ExitLinkFailure;
    if (ui.questionUnanswered()) return ExitRefused;
    return exitCodeOf(report.outcome);
}

MubtoolCommand reg("upgrade", "write an upgrade file's firmware into the machine (headless upgrade button)",
                   &runUpgradeCommand);

} // namespace
} // namespace mub::tool
