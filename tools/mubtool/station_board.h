// What the operator of `mubtool station` sees, fed by the ports' threads
// and drawn by the main thread: on a terminal one live line per port (port,
// state, percent, the machine's identity, seconds in that state) under the
// lines of finished machines, and a totals line (done, failed, per hour);
// with the output redirected one plain line per event; with --json one
// JSON object per finished machine on stdout.
#pragma once

#include "upgrade/upgrade_log.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace mub::tool {

enum class PortState {
    Waiting,   // for a machine
    Upgrading, // identified, its upgrade runs
    Verifying, // waiting for it to come back after the end mark
    Removing,  // finished; waiting until it has gone
    Ended,     // the port's loop is over
};

class StationBoard {
public:
    struct Options {
        std::FILE* display = stdout; // live lines or event lines
        bool live = false;           // redraw in place (a terminal)
        int columns = 0;             // terminal width, 0 when unknown
        std::FILE* json = nullptr;   // one object per finished machine, or none
        bool verify = false;         // the objects tell the software version after
    };
    StationBoard(const std::vector<std::string>& portNames, Options options);

    // From the ports' threads.
    void setState(std::size_t port, PortState state);
    // The machine identified on the port (GBK texts).
    void setMachine(std::size_t port, const std::string& model, const std::string& hardware, const std::string& software);
    void setPercent(std::size_t port, int percent);
    // A plain event of the port (UTF-8).
    void event(std::size_t port, const std::string& text);
    // A machine finished with this log entry; `failureText` (GBK) is what
    // the window would have shown in its error box, if anything;
    // `transferSeconds` the transfer alone (0: there was none).
    void finished(std::size_t port, const UpgradeLogEntry& entry, const std::string& failureText,
                  double transferSeconds);
    // A message for the whole station (UTF-8), shown once as it comes.
    void notice(const std::string& text);

    // The main thread: shows what came since the last call, waiting up to
    // `wait` for something to show.
    void draw(std::chrono::milliseconds wait);
    // The last drawing: pending lines and the totals, the live block left
    // on the screen as it stands.
    void close();

    struct Totals {
        long long done = 0;   // exit code 0 (upgraded; verified or not)
        long long failed = 0; // any other exit code
    };
    Totals totals() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Port {
        std::string name;
        PortState state = PortState::Waiting;
        int percent = 0;
        std::string machine; // UTF-8, one line
        std::string result;  // of the last machine, shown while it is removed
        Clock::time_point since;
    };

    void push(const std::string& line);   // under lock_
    std::string portLine(const Port& port, Clock::time_point now) const;
    std::string totalsLine(Clock::time_point now) const;
    std::string fitted(std::string line) const;
    void drawLocked(Clock::time_point now);

    Options options_;
    const Clock::time_point start_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool dirty_ = true;
    std::vector<Port> ports_;
    std::deque<std::string> lines_; // event lines not shown yet
    std::deque<std::string> json_;  // objects not written yet
    Totals totals_;
    int drawnLines_ = 0; // lines of the live block on the screen
};

} // namespace mub::tool
