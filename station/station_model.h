// The station as its views read it: each port's state, percent, machine
// and last result, the totals, and what happened since a view last looked
// (event lines, finished machines). The ports' threads write it; a view
// (mubtool's terminal board, a window) waits for news and reads it.
#pragma once

#include "upgrade/upgrade_log.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace mub {

enum class PortState {
    Waiting,     // for a machine
    Identifying, // one answered the probe; its identity is being asked
    Upgrading,   // identified, its upgrade runs
    Restarting, // upgraded; waiting for it to come back after the end mark
    Verifying,  // the same with --verify: its version is to be checked
    Removing,  // finished; waiting until it has gone
    Ended,     // the port's loop is over
};

// "waiting", "upgrading", ...
const char* portStateText(PortState state);

class StationModel {
public:
    using Clock = std::chrono::steady_clock;

    struct Port {
        std::string name;
        PortState state = PortState::Waiting;
        int percent = 0;
        std::string machine; // UTF-8, one line
        std::string result;  // of the last machine, shown while it is removed
        Clock::time_point since;
        // The last machine as a window shows it until the next one is
        // identified: its identity (GBK), its latest log line's outcome and
        // exit code, and the error box's text (GBK) if it failed with one.
        std::string model, hardware, software;
        std::string outcome;
        int exitCode = 0;
        std::string failureText;
        // How its last machine counts in the totals so far: not yet (its
        // check after the restart is awaited), done or failed.
        enum class Counted { Not, Done, Failed } counted = Counted::Not;
        int countedAtReset = 0;
    };
    // A line of the upgrade log: a machine's upgrade, or the second line of
    // a completed one (what it reported after its restart).
    struct Finished {
        UpgradeLogEntry entry;
        double transferSeconds = 0; // the transfer alone; 0: there was none
        bool second = false;
    };
    struct Totals {
        long long done = 0;   // machinePassed (upgrade_ending.h): upgraded, verified or not
        long long failed = 0; // any other ending
        Clock::time_point since;
    };
    // What happened since the last look: event lines (UTF-8, led by the
    // local time) and the machines finished, oldest first.
    struct News {
        std::vector<std::string> lines;
        std::vector<Finished> finished;
    };

    explicit StationModel(const std::vector<std::string>& portNames);
    // A port that joins later; its index.
    std::size_t addPort(const std::string& name);

    // From the ports' threads.
    void setState(std::size_t port, PortState state);
    // The machine identified on the port (GBK texts).
    void setMachine(std::size_t port, const std::string& model, const std::string& hardware, const std::string& software);
    void setPercent(std::size_t port, int percent);
    // A plain event of the port (UTF-8).
    void event(std::size_t port, const std::string& text);
    // A machine finished with this log entry; `failureText` (GBK) is what
    // the window would have shown in its error box, if anything. `counts`:
    // it counts in the totals now; else once its verdict comes.
    void finished(std::size_t port, const UpgradeLogEntry& entry, const std::string& failureText,
                  double transferSeconds, bool counts);
    // The second line of the port's last machine: the machine counts by it
    // (one counted done and now failed moves to failed).
    void verdict(std::size_t port, const UpgradeLogEntry& entry, double transferSeconds);
    // A message for the whole station (UTF-8).
    void notice(const std::string& text);

    // For views: waits up to `wait` for news; true when something changed
    // since the last takeNews (a percent too).
    bool waitForNews(std::chrono::milliseconds wait);
    News takeNews();
    std::vector<Port> ports() const;
    Totals totals() const;
    // Since the operator last reset them (since the start until then).
    Totals totalsSinceReset() const;
    void resetTotals();
    Clock::time_point started() const { return start_; }

private:
    void push(const std::string& line); // under lock_
    void count(Port& p, bool ok); // under lock_
    void record(Port& p, const UpgradeLogEntry& e, const std::string& failureText, double transferSeconds,
                bool second); // under lock_

    const Clock::time_point start_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool dirty_ = true;
    std::vector<Port> ports_;
    News news_;
    Totals totals_;
    Totals sinceReset_;
    int resets_ = 0; // a port's machine counted before the last reset is not moved in sinceReset_
};

} // namespace mub
