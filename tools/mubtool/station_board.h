// What the operator of `mubtool station` sees, drawn by the main thread from
// the station's model: on a terminal one live line per port (port, state,
// percent, the machine's identity, seconds in that state) under the lines
// of finished machines, and a totals line (done, failed, per hour); with
// the output redirected one plain line per event; with --json one JSON
// object per finished machine on stdout.
#pragma once

#include "station/station_model.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace mub::tool {

class StationBoard {
public:
    struct Options {
        std::FILE* display = stdout; // live lines or event lines
        bool live = false;           // redraw in place (a terminal)
        int columns = 0;             // terminal width, 0 when unknown
        std::FILE* json = nullptr;   // one object per finished machine, or none
        // The upgrade log's lines that wait to be sent (--send-to), for the
        // totals line; unset: no collector.
        std::function<std::size_t()> recordsWaiting;
    };
    StationBoard(StationModel& model, Options options) : model_(model), options_(options) {}

    // Shows what came since the last call, waiting up to `wait` for
    // something to show.
    void draw(std::chrono::milliseconds wait);
    // The last drawing: pending lines and the totals, the live block left
    // on the screen as it stands.
    void close();

private:
    using Clock = StationModel::Clock;
    std::string portLine(const StationModel::Port& port, Clock::time_point now) const;
    std::string totalsLine(Clock::time_point now) const;
    std::string fitted(std::string line) const;
    void drawNow(Clock::time_point now);

    StationModel& model_;
    Options options_;
    int drawnLines_ = 0; // lines of the live block on the screen
};

} // namespace mub::tool
