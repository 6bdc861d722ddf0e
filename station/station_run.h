// A station at work: one thread per port, each with its own link over its
// own serial channel, started and stopped all together (Start all, Stop
// all, Ctrl+C) or one port at a time; ports that appear later (USB serial
// adapters plugged in) join it. Every view of the station runs one.
#pragma once

#include "station/station_link.h"
#include "station/station_port.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace mub {

class StationRun {
public:
    struct Setup {
        IdentityRule rule = IdentityRule::ProductionLine;
        int baudIndex = 0;
        StationJob job; // its model has a port for each of `ports`, in order
    };
    StationRun(Setup setup, std::vector<StationPort> ports);
    // Stops every port and waits for its loop to end.
    ~StationRun();
    StationRun(const StationRun&) = delete;
    StationRun& operator=(const StationRun&) = delete;

    // A port that runs is left as it is; stopping returns at once and the
    // port's loop ends (its machine logged as stopped) on its own thread.
    void start(std::size_t port);
    void stop(std::size_t port);
    void startAll();
    void stopAll();
    bool running(std::size_t port) const;
    bool anyRunning() const;
    std::size_t portCount() const;

    // Ports not yet in the station among `found` (the same device under
    // another name counts as in it) join it, each with a port in the model,
    // and start when `startThem`. Returns how many joined.
    std::size_t join(const std::vector<StationPort>& found, bool startThem);

private:
    struct Port {
        StationPort port;
        std::atomic<bool> stop{false};
        std::atomic<bool> running{false};
        std::thread thread;
        std::mutex lock; // guards machine, for the stop from another thread
        LinkPortMachine* machine = nullptr;
    };
    void loop(Port& port, std::size_t index);

    const Setup setup_;
    mutable std::mutex portsLock_;
    std::deque<Port> ports_; // never shrinks; its elements stay in place
};

// The device a station port writes to, to tell two names of one device.
std::string stationPortDevice(const StationPort& port);

} // namespace mub
