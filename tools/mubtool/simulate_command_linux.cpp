// mubtool simulate: a machine on a pseudo-terminal, for use without hardware.
#include "tools/mubtool/command.h"
#include "tools/simulator/machine_plan.h"
#include "tools/simulator/pty_line.h"
#include "tools/simulator/simulated_machine.h"
#include "tools/simulator/simulator_options.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

void onSimulatorStop(int) { stopRequested.store(true); }

// SIGUSR1: the machines of the plans now on the lines are the last ones.
std::atomic<bool> lastMachines{false};
void onLastMachines(int) { lastMachines.store(true); }

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
        return mub::tool::usageError("simulate", error);
    }

    struct sigaction action {};
    action.sa_handler = onSimulatorStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    action.sa_handler = onLastMachines;
    sigaction(SIGUSR1, &action, nullptr);

    // Every machine has its own terminal and options (its own report and
    // image paths) and plays on a thread of its own; with a plan, each
    // terminal has its own series of machines.
    std::vector<mub::sim::SimulatorOptions> own;
    std::vector<std::vector<mub::sim::SimulatorOptions>> plans;
    std::vector<std::unique_ptr<mub::sim::PtyLine>> lines;
    for (int number = 1; number <= options.machines; ++number) {
        own.push_back(mub::sim::machineOptions(options, number));
        if (!options.planPath.empty()) {
            std::ifstream in(own.back().planPath, std::ios::binary);
            if (!in) return mub::tool::usageError("simulate", "cannot read the plan " + own.back().planPath);
            const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            if (!mub::sim::parseMachinePlan(text, own.back(), plans.emplace_back(), error))
                return mub::tool::usageError("simulate", own.back().planPath + ": " + error);
        }
        lines.push_back(std::make_unique<mub::sim::PtyLine>());
        if (!lines.back()->open(options.baud, error)) {
            std::fprintf(stderr, "mubtool simulate: %s\n", error.c_str());
            return 2;
        }
    }
    // The paths first, each alone on its line, so a script can read them at once.
    for (const auto& line : lines) std::printf("%s\n", line->path().c_str());
    std::fflush(stdout);

    if (!plans.empty()) {
        // "PATH empty" when no more machine comes to that line.
        std::mutex output;
        std::vector<std::thread> players;
        for (std::size_t i = 0; i < lines.size(); ++i)
            players.emplace_back([&plan = plans[i], &line = *lines[i], &output] {
                playMachinePlan(plan, line, stopRequested, lastMachines, [&] {
                    std::lock_guard<std::mutex> guard(output);
                    std::printf("%s empty\n", line.path().c_str());
                    std::fflush(stdout);
                });
            });
        for (auto& player : players) player.join();
        return mub::tool::ExitOk;
    }
    std::vector<std::unique_ptr<mub::sim::SimulatedMachine>> machines;
    for (std::size_t i = 0; i < lines.size(); ++i)
        machines.push_back(std::make_unique<mub::sim::SimulatedMachine>(own[i], *lines[i], stopRequested));
    std::vector<std::thread> players;
    for (std::size_t i = 1; i < machines.size(); ++i) players.emplace_back([&machine = *machines[i]] { machine.run(); });
    machines[0]->run();
    for (auto& player : players) player.join();
    for (std::size_t i = 0; i < machines.size(); ++i) {
        if (machines[i]->report().upgrades == 0) continue;
        const std::string which = machines.size() > 1 ? " " + lines[i]->path() : "";
        std::fprintf(stderr, "mubtool simulate:%s last transfer %s\n", which.c_str(), machines[i]->report().result.c_str());
    }
    return mub::tool::ExitOk;
}

mub::tool::MubtoolCommand simulateCommand("simulate", "play a machine on a pseudo-terminal (for use without hardware)",
                                          &runSimulate);

} // namespace
