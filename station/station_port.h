// One port of a production station: its loop, and what it asks of the machine
// on its port through a small interface (the link over the port's own
// serial channel in the program, a script in the tests).
//
// The loop: wait for a machine and identify it; take it if the station
// still wants machines; upgrade it as `mubtool upgrade --yes` does; let it
// restart and, with --verify, check that it reports the file's software
// version; write its log line; then wait until it has gone before taking
// the next one.
#pragma once

#include "link/connect_machine.h"
#include "serial/port_table.h"
#include "station/station_model.h"
#include "upgrade/run_upgrade.h"
#include "upgrade/upgrade_log.h"
#include "upgrade_file/upgrade_file.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>

namespace mub {

class PortMachine {
public:
    using Clock = std::chrono::steady_clock;
    virtual ~PortMachine() = default;

    struct Found {
        enum class Kind {
            Machine,      // identified; the link stays open for the upgrade
            Unidentified, // it answered the probe but not the identification
            Nothing,      // the station stops
        };
        Kind kind = Kind::Nothing;
        MachineInfo machine;
        std::string failureText;   // Unidentified: the error box's text (GBK)
        Clock::time_point foundAt; // when it first answered
    };
    // Waits for a machine (or the station's stop) and identifies it.
    virtual Found waitForMachine() = 0;

    struct Upgraded {
        bool completed = false;
        bool stopped = false;
        UpgradeReport report;
        std::string failureText; // the error box's text (GBK), if any
    };
    // The upgrade run of the machine waitForMachine found; the link is
    // closed afterwards.
    virtual Upgraded upgrade(const MachineInfo& machine) = 0;

    // A model check bounded by `bound`: the machine's identity when it
    // answered in time (it is then told that no upgrade follows), nothing
    // when it did not or the station stops.
    virtual std::optional<MachineInfo> check(Clock::duration bound) = 0;

    // The machine waitForMachine found is not taken: it is told that no
    // upgrade follows, and the link is closed.
    virtual void release() = 0;

    virtual bool stopping() const = 0;
    // Sleeps, or less when the station stops.
    virtual void pause(Clock::duration length) = 0;
};

// One port of the station: the name it is shown and logged with, and a port
// table that holds its device alone, as COM<number>.
struct StationPort {
    std::string name;
    int number = 1;
    PortTable table;
};

// How many machines the station still takes, shared by its ports.
class StationSlots {
public:
    explicit StationSlots(long long count) : limit_(count) {} // 0: no limit
    // A machine is taken; false when the count is reached.
    bool take();
    void finish() { ++finished_; }
    // Every machine of the count is taken: a port that finished its own has
    // nothing more to do.
    bool exhausted() const { return limit_ > 0 && taken_.load() >= limit_; }
    bool allFinished() const { return limit_ > 0 && finished_.load() >= limit_; }

private:
    const long long limit_;
    std::atomic<long long> taken_{0};
    std::atomic<long long> finished_{0};
};

// What every port of one station shares.
struct StationJob {
    const UpgradeFile* file = nullptr; // its path as given (UTF-8)
    bool verify = false;
    // How long a machine may take to come back after the end mark.
    std::chrono::milliseconds comeBack{60000};
    // How long a machine that is still there has to answer a check.
    std::chrono::milliseconds presence{3000};
    UpgradeLog* log = nullptr;
    std::string program = "mubtool station"; // as the upgrade log names it
    StationModel* model = nullptr;
    StationSlots* machineSlots = nullptr;
};

// Runs the loop of port `index` (named `portName`) until the station stops
// or wants no more machines.
void runStationPort(std::size_t index, const std::string& portName, PortMachine& machine, const StationJob& job);

} // namespace mub
