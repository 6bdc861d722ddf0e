// What the simulated machine says and which faults it plays.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mub::sim {

struct SimulatorOptions {
    // Identity texts, GBK (given as UTF-8 on the command line).
    std::string model = "QM-3000";
    std::string hardware = "HW-1.0";
    std::string software = "1.00";
    int padding = 0; // zero bytes appended to every identity reply

    std::uint32_t baud = 0; // 0: no pacing; else every byte takes 10 bits of line time

    // Several machines at once, each on a pseudo-terminal of its own.
    int machines = 1;

    // A series of machines on the line, one after another, each with its
    // own options (machine_plan.h); empty: one machine for ever.
    std::string planPath;
    bool planned = false; // this machine is one of a plan's
    // In a plan: the machine is taken away this long after it is put on
    // the line, whatever it is doing (-1: it stays).
    int leaveAfterMs = -1;

    // After a completed transfer: silent this long while it restarts, then
    // it reports the software version the upgrade brought (-1: it goes on
    // at once with its old identity, as before the upgrade).
    int rebootMs = -1;
    // This long after it is back, the machine is taken away: silent for
    // awayMs, then a new machine of the first identity is there (-1: never).
    int swapAfterMs = -1;
    int awayMs = 5000;
    // Pulled as soon as its end packet is answered, as an operator does at
    // the beep: silent this long, then a new machine of the first identity
    // is there (-1: never). Comes before --reboot and --swap-after.
    int replacedAfterEndMs = -1;

    // Faults while identifying.
    bool silent = false;          // answers nothing at all
    bool noConfirm = false;       // answers the probe but never echoes the confirmation
    int corruptFrames = 0;        // this many identity replies carry a wrong checksum
    std::string corruptRequests = "MPF"; // which requests the corruption applies to
    std::string streamRequests;          // requests answered with an endless stream of noise

    // Faults during the transfer; block numbers count image blocks from 1.
    std::map<int, int> rejectBlock; // block -> times answered 0x15
    std::map<int, int> ignoreBlock; // block -> times not answered at all
    int tooLargeAt = 0;             // answers 0x18 at this block
    int checksumErrorAt = 0;        // answers 0x04 at this block
    int disconnectAt = 0;           // closes the line at this block and exits
    int disconnectAfter = 0;        // closes the line once the tool took this block's acknowledgement
    bool noReady = false;           // never sends "C"
    bool repeatRequest = false;     // after the begin byte asks "M" again and again
    int noiseFrom = 0;              // answers this block and all later ones with endless noise
    std::map<int, int> strayByte;   // block -> times a stray byte comes before its answer

    std::string saveImagePath;
    std::int64_t imageLength = -1; // exact length to save; -1 trims trailing 0xFF padding
    std::string reportPath;
};

// Parses the arguments of `mubtool simulate`. False with a message in
// `error` for an unknown option or a bad value.
bool parseSimulatorOptions(const std::vector<std::string>& args, SimulatorOptions& options, std::string& error);

// The --help text.
const char* simulatorUsage();

// The options of machine `number` (1..machines): with several machines, the
// paths of --save-image, --report and --plan get "-<number>" before their
// extension.
SimulatorOptions machineOptions(const SimulatorOptions& options, int number);

} // namespace mub::sim
