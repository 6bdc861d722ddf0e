// mubtool simulate: a machine on a pseudo-terminal, for use without hardware.
#include "tools/mubtool/command.h"
#include "tools/simulator/pty_line.h"
#include "tools/simulator/simulated_machine.h"
#include "tools/simulator/simulator_options.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

void onSimulatorStop(int) { stopRequested.store(true); }

int runSimulate(const std::vector<std::string>& args) {
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(mub::sim::simulatorUsage(), stdout);
            return mub::tool::ExitOk;
        }
    }
    mub::sim::SimulatorOptions options;
    std::string error;
    if (!mub::sim::parseSimulatorOptions(args, options, error)) {
        std::fprintf(stderr, "mubtool simulate: %s\n\n%s", error.c_str(), mub::sim::simulatorUsage());
        return mub::tool::ExitUsage;
    }

    struct sigaction action {};
    action.sa_handler = onSimulatorStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    mub::sim::PtyLine line;
    if (!line.open(options.baud, error)) {
        std::fprintf(stderr, "mubtool simulate: %s\n", error.c_str());
        return 2;
    }
    // The path first, alone on its line, so a script can read it at once.
    std::printf("%s\n", line.path().c_str());
    std::fflush(stdout);

    mub::sim::SimulatedMachine machine(options, line, stopRequested);
    machine.run();
    if (machine.report().upgrades > 0)
        std::fprintf(stderr, "mubtool simulate: last transfer %s\n", machine.report().result.c_str());
    return mub::tool::ExitOk;
}

mub::tool::MubtoolCommand reg("simulate", "play a machine on a pseudo-terminal (for use without hardware)",
                              &runSimulate);

} // namespace
