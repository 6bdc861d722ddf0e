// The machine's side of the conversation: answers the probe, the link
// confirmation and the identity requests, and receives an upgrade.
#pragma once

#include "tools/simulator/pty_line.h"
#include "tools/simulator/simulation_report.h"
#include "tools/simulator/simulator_options.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace mub::sim {

class SimulatedMachine {
public:
    using Clock = std::chrono::steady_clock;

    SimulatedMachine(const SimulatorOptions& options, PtyLine& line, const std::atomic<bool>& stop);

    // Plays the machine until `stop` is set or a disconnect fault hangs up.
    // Writes the report on every end of a transfer and before it returns.
    void run();
    const SimulationReport& report() const { return report_; }

    // A machine of a plan leaves the line instead of hanging it up or
    // becoming a new machine itself; whoever plays the plan watches for
    // that time (from any thread) and ends run() through `stop` then.
    bool leaveDue(Clock::time_point now) const { return now.time_since_epoch().count() >= leaveAtTicks_.load(); }
    // Once run() returned: when it left, and how long the line is quiet
    // before the next one is there.
    Clock::time_point leftAt() const { return Clock::time_point(Clock::duration(leaveAtTicks_.load())); }
    std::chrono::milliseconds gap() const { return gap_; }

private:
    using Bytes = std::vector<std::uint8_t>;

    bool nextByte(std::uint8_t& byte, int timeoutMs);
    void handleIdleByte(std::uint8_t byte);
    void replyIdentity(char request);
    void receiveUpgrade();
    bool askIdentity(char request, std::string& text);
    bool readFrame(Bytes& frame);
    bool abandoned_ = false; // the tool gave up while the machine asked it
    // Handles one block packet after its first byte; false ends the transfer.
    bool receiveBlock(std::uint8_t& expectedNumber, int& block, Bytes& image);
    void finishImage(Bytes& image);
    // Sends noise without a pause until the stop, dropping what comes.
    void streamNoise();
    // Acknowledges the last block and hangs up once the tool has taken the
    // acknowledgement, holding the tool's output in between so that it
    // cannot send anything more first.
    void acknowledgeAndHangUp();
    // Closes the line, or in a plan leaves it at once.
    void hangUp();
    // In a plan: taken away at `when` (the earliest time set counts), the
    // line quiet for `gap` after that.
    void leave(Clock::time_point when, int gapMs);
    void send(Bytes bytes);
    void saveReport();
    // Restarting or taken away: nothing is answered until the time it is
    // back. Goes through the steps of --reboot and --swap-after as they fall due.
    bool away();

    const SimulatorOptions& options_;
    PtyLine& line_;
    const std::atomic<bool>& stop_;
    std::deque<std::uint8_t> pending_;
    SimulationReport report_;
    int corruptLeft_;
    std::map<int, int> rejectLeft_, ignoreLeft_, strayLeft_;
    std::set<int> attempted_; // image blocks that came at least once
    bool hungUp_ = false;

    std::string software_; // the software version it reports now
    Clock::time_point awayUntil_{};
    std::optional<Clock::time_point> leaveAt_; // when it is taken away
    Clock::time_point readySent_{};            // the ready byte reached the tool

    std::atomic<Clock::rep> leaveAtTicks_{std::numeric_limits<Clock::rep>::max()};
    std::chrono::milliseconds gap_{0};
};

} // namespace mub::sim
