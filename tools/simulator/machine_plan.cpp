#include "tools/simulator/machine_plan.h"

#include "tools/simulator/simulated_machine.h"

#include <sstream>
#include <thread>

namespace mub::sim {

namespace {

using Clock = SimulatedMachine::Clock;
// How soon a machine's departure is noticed.
constexpr std::chrono::milliseconds watchEvery{10};

// Nobody on the line: what the tool sends is lost.
void quietUntil(PtyLine& line, Clock::time_point until, const std::atomic<bool>& stop) {
    std::vector<std::uint8_t> dropped;
    while (!stop.load()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) return;
        dropped.clear();
        line.read(dropped, static_cast<int>(std::min<long long>(left, 100)), stop);
    }
}

} // namespace

bool parseMachinePlan(const std::string& text, const SimulatorOptions& base, std::vector<SimulatorOptions>& plan,
                      std::string& error) {
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        std::istringstream words(line);
        std::vector<std::string> args;
        for (std::string word; words >> word;) args.push_back(word);
        if (args.empty() || args.front()[0] == '#') continue;
        for (const std::string& arg : args) {
            if (arg == "--machines" || arg == "--baud" || arg == "--plan") {
                error = "plan line " + std::to_string(number) + ": " + arg + " belongs to the command line";
                return false;
            }
        }
        SimulatorOptions machine = base;
        machine.planPath.clear();
        machine.planned = true;
        if (!parseSimulatorOptions(args, machine, error)) {
            error = "plan line " + std::to_string(number) + ": " + error;
            return false;
        }
        plan.push_back(std::move(machine));
    }
    return true;
}

void playMachinePlan(const std::vector<SimulatorOptions>& plan, PtyLine& line, const std::atomic<bool>& stop,
                     const std::atomic<bool>& lastOnes, const std::function<void()>& emptied) {
    for (const SimulatorOptions& options : plan) {
        if (stop.load()) return;
        // The machine's own stop: its departure, or the simulator's end.
        std::atomic<bool> gone{false};
        std::atomic<bool> over{false};
        SimulatedMachine machine(options, line, gone);
        std::thread player([&] {
            machine.run();
            over = true;
        });
        while (!over.load()) {
            if (stop.load() || machine.leaveDue(Clock::now())) gone = true;
            std::this_thread::sleep_for(watchEvery);
        }
        player.join();
        if (stop.load()) return;
        if (lastOnes.load()) break;
        quietUntil(line, machine.leftAt() + machine.gap(), stop);
        if (lastOnes.load()) break;
    }
    if (emptied) emptied();
    quietUntil(line, Clock::time_point::max(), stop);
}

} // namespace mub::sim
