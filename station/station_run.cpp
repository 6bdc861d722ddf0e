#include "station/station_run.h"

#include <filesystem>
#include <set>

namespace mub {

std::string stationPortDevice(const StationPort& port) {
    const std::string device = port.table.devicePath(port.number);
    std::error_code error;
    const auto real = std::filesystem::canonical(device, error);
    return error ? device : real.string();
}

StationRun::StationRun(Setup setup, std::vector<StationPort> ports) : setup_(std::move(setup)) {
    for (StationPort& port : ports) ports_.emplace_back().port = std::move(port);
}

StationRun::~StationRun() {
    stopAll();
    std::lock_guard<std::mutex> guard(portsLock_);
    for (Port& p : ports_)
        if (p.thread.joinable()) p.thread.join();
}

void StationRun::loop(Port& p, std::size_t index) {
    {
        // Made and closed on the port's own thread: a driver that hangs in
        // open or close holds up this port only.
        LinkPortMachine machine(p.port, setup_.rule, setup_.baudIndex, *setup_.job.file, *setup_.job.model, index,
                                p.stop);
        {
            std::lock_guard<std::mutex> guard(p.lock);
            p.machine = &machine;
        }
        if (!p.stop.load()) runStationPort(index, p.port.name, machine, setup_.job);
        std::lock_guard<std::mutex> guard(p.lock);
        p.machine = nullptr;
    }
    p.running = false;
}

void StationRun::start(std::size_t index) {
    std::lock_guard<std::mutex> guard(portsLock_);
    Port& p = ports_.at(index);
    if (p.running.load()) return;
    // A loop that ended (stopped, or the count reached) is over: its thread
    // is only joined here.
    if (p.thread.joinable()) p.thread.join();
    if (setup_.job.machineSlots->exhausted()) return;
    p.stop = false;
    p.running = true;
    p.thread = std::thread([this, &p, index] { loop(p, index); });
}

void StationRun::stop(std::size_t index) {
    std::lock_guard<std::mutex> guard(portsLock_);
    Port& p = ports_.at(index);
    p.stop = true;
    std::lock_guard<std::mutex> machineGuard(p.lock);
    if (p.machine) p.machine->interruptWaits();
}

void StationRun::startAll() {
    for (std::size_t i = 0; i < portCount(); ++i) start(i);
}

void StationRun::stopAll() {
    for (std::size_t i = 0; i < portCount(); ++i) stop(i);
}

bool StationRun::running(std::size_t index) const {
    std::lock_guard<std::mutex> guard(portsLock_);
    // A port the model has but that is only joining has not started yet.
    return index < ports_.size() && ports_[index].running.load();
}

bool StationRun::anyRunning() const {
    std::lock_guard<std::mutex> guard(portsLock_);
    for (const Port& p : ports_)
        if (p.running.load()) return true;
    return false;
}

std::size_t StationRun::portCount() const {
    std::lock_guard<std::mutex> guard(portsLock_);
    return ports_.size();
}

std::size_t StationRun::join(const std::vector<StationPort>& found, bool startThem) {
    std::vector<std::size_t> joined;
    {
        std::lock_guard<std::mutex> guard(portsLock_);
        std::set<std::string> devices;
        for (const Port& p : ports_) devices.insert(stationPortDevice(p.port));
        for (const StationPort& port : found) {
            if (!devices.insert(stationPortDevice(port)).second) continue;
            ports_.emplace_back().port = port;
            joined.push_back(setup_.job.model->addPort(port.name));
        }
    }
    if (startThem)
        for (const std::size_t index : joined) start(index);
    return joined.size();
}

} // namespace mub
