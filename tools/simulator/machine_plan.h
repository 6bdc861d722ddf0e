// A line with a series of machines over time, as on a production line: one
// machine is put on it, plays its own options (its faults, its report and
// image paths), is taken away, and after a quiet gap the next one is there.
// The line itself (its pseudo-terminal) stays all along.
#pragma once

#include "tools/simulator/pty_line.h"
#include "tools/simulator/simulator_options.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace mub::sim {

// The machines of a plan's text: a line per machine with its options as on
// the command line (separated by blanks, no quoting), each over `base`;
// blank lines and lines starting with # are left out. False with `error`
// (naming the line) for a bad option, and for --machines, --baud and --plan,
// which belong to the command line.
bool parseMachinePlan(const std::string& text, const SimulatorOptions& base, std::vector<SimulatorOptions>& plan,
                      std::string& error);

// Plays the plan's machines on `line` one after another until `stop`; after
// the last one, or once `lastOnes` is set and the machine then on the line
// has left, the line stays quiet: `emptied` is called then.
void playMachinePlan(const std::vector<SimulatorOptions>& plan, PtyLine& line, const std::atomic<bool>& stop,
                     const std::atomic<bool>& lastOnes, const std::function<void()>& emptied);

} // namespace mub::sim
