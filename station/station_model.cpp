#include "station/station_model.h"

#include "platform/gbk_text.h"
#include "platform/host_facts.h"
#include "upgrade/upgrade_ending.h"

#include <cstdio>
#include <utility>

namespace mub {
namespace {

std::string clockNow() {
    const std::tm& t = localTimeNow().fields;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.tm_hour % 100, t.tm_min % 100, t.tm_sec % 100);
    return text;
}

std::string identityText(const std::string& model, const std::string& hardware, const std::string& software) {
    return printableUtf8(model) + " " + printableUtf8(hardware) + " " + printableUtf8(software);
}

} // namespace

const char* portStateText(PortState state) {
    switch (state) {
    case PortState::Waiting: return "waiting";
    case PortState::Identifying: return "identifying";
    case PortState::Upgrading: return "upgrading";
    case PortState::Restarting: return "restarting";
    case PortState::Verifying: return "verifying";
    case PortState::Removing: return "remove it";
    case PortState::Ended: return "ended";
    }
    return "";
}

StationModel::StationModel(const std::vector<std::string>& portNames) : start_(Clock::now()) {
    totals_.since = sinceReset_.since = start_;
    for (const std::string& name : portNames) addPort(name);
}

std::size_t StationModel::addPort(const std::string& name) {
    std::lock_guard<std::mutex> guard(lock_);
    Port p;
    p.name = name;
    p.since = Clock::now();
    ports_.push_back(p);
    dirty_ = true;
    return ports_.size() - 1;
}

void StationModel::push(const std::string& line) {
    news_.lines.push_back(clockNow() + " " + line);
    dirty_ = true;
    changed_.notify_all();
}

void StationModel::setState(std::size_t port, PortState state) {
    std::lock_guard<std::mutex> guard(lock_);
    Port& p = ports_.at(port);
    if (p.state == state) return;
    p.state = state;
    p.since = Clock::now();
    // The last machine's result stays until the next one is identified.
    if (state == PortState::Upgrading) p.percent = 0;
    // Only the beginnings of a wait are events; the rest has lines of its own.
    if (state == PortState::Waiting) push(p.name + " waiting for a machine");
    if (state == PortState::Ended) push(p.name + " ended");
    dirty_ = true;
}

void StationModel::setMachine(std::size_t port, const std::string& model, const std::string& hardware,
                              const std::string& software) {
    std::lock_guard<std::mutex> guard(lock_);
    Port& p = ports_.at(port);
    p.machine = identityText(model, hardware, software);
    p.model = model;
    p.hardware = hardware;
    p.software = software;
    p.result.clear();
    p.outcome.clear();
    p.exitCode = 0;
    p.failureText.clear();
    p.percent = 0;
    dirty_ = true;
    push(p.name + " machine " + p.machine);
}

void StationModel::setPercent(std::size_t port, int percent) {
    std::lock_guard<std::mutex> guard(lock_);
    Port& p = ports_.at(port);
    if (p.percent == percent) return;
    p.percent = percent;
    dirty_ = true; // drawn with the next refresh; no event of its own
}

void StationModel::event(std::size_t port, const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    push(ports_.at(port).name + " " + text);
}

void StationModel::notice(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    push(text);
}

void StationModel::finished(std::size_t port, const UpgradeLogEntry& e, const std::string& failureText,
                            double transferSeconds, bool counts) {
    std::lock_guard<std::mutex> guard(lock_);
    Port& p = ports_.at(port);
    const bool ok = machinePassed(e.exitCode);
    p.counted = Port::Counted::Not;
    if (counts) count(p, ok);
    if (e.model.empty()) {
        // Not identified: nothing of the last machine is its.
        p.machine.clear();
        p.model.clear();
        p.hardware.clear();
        p.software.clear();
    }
    record(p, e, failureText, transferSeconds, false);
}

void StationModel::verdict(std::size_t port, const UpgradeLogEntry& e, double transferSeconds) {
    std::lock_guard<std::mutex> guard(lock_);
    Port& p = ports_.at(port);
    const bool ok = machinePassed(e.exitCode);
    if (p.counted == Port::Counted::Not) {
        count(p, ok);
    } else if (p.counted == Port::Counted::Done && !ok) {
        --totals_.done;
        ++totals_.failed;
        if (p.countedAtReset == resets_) {
            --sinceReset_.done;
            ++sinceReset_.failed;
        }
        p.counted = Port::Counted::Failed;
    }
    record(p, e, {}, transferSeconds, true);
}

void StationModel::count(Port& p, bool ok) {
    (ok ? totals_.done : totals_.failed) += 1;
    (ok ? sinceReset_.done : sinceReset_.failed) += 1;
    p.counted = ok ? Port::Counted::Done : Port::Counted::Failed;
    p.countedAtReset = resets_;
}

void StationModel::record(Port& p, const UpgradeLogEntry& e, const std::string& failureText, double transferSeconds,
                          bool second) {
    const bool ok = machinePassed(e.exitCode);
    p.result = ok ? e.outcome : "FAILED " + e.outcome;
    p.outcome = e.outcome;
    p.exitCode = e.exitCode;
    if (!second) p.failureText = failureText;
    char counts[160];
    std::snprintf(counts, sizeof counts, "%.1f s, blocks %u of %u, time-outs %u, rejected blocks %u", e.seconds,
                  e.blocksDone, e.blocksTotal, e.timeouts, e.rejectedBlocks);
    std::string line = p.name + " " + (ok ? "" : "FAILED ") + e.outcome;
    if (!ok) line += " (exit " + std::to_string(e.exitCode) + ")";
    line += ": " + std::string(counts);
    if (!e.softwareAfter.empty()) line += ", software now " + printableUtf8(e.softwareAfter);
    if (!failureText.empty()) line += "; " + printableUtf8(failureText);
    news_.finished.push_back({e, transferSeconds, second});
    push(line);
}

bool StationModel::waitForNews(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_for(guard, wait, [this] { return !news_.lines.empty() || !news_.finished.empty(); });
    return dirty_;
}

StationModel::News StationModel::takeNews() {
    std::lock_guard<std::mutex> guard(lock_);
    dirty_ = false;
    return std::exchange(news_, {});
}

std::vector<StationModel::Port> StationModel::ports() const {
    std::lock_guard<std::mutex> guard(lock_);
    return ports_;
}

StationModel::Totals StationModel::totals() const {
    std::lock_guard<std::mutex> guard(lock_);
    return totals_;
}

StationModel::Totals StationModel::totalsSinceReset() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sinceReset_;
}

void StationModel::resetTotals() {
    std::lock_guard<std::mutex> guard(lock_);
    sinceReset_ = {};
    sinceReset_.since = Clock::now();
    ++resets_;
    push("totals reset");
}

} // namespace mub
