#include "tools/mubtool/station_board.h"

#include "platform/gbk_text.h"
#include "platform/host_facts.h"
#include "tools/mubtool/upgrade_end_report.h"

#include <algorithm>

namespace mub::tool {
namespace {

const char* stateText(PortState state) {
    switch (state) {
    case PortState::Waiting: return "waiting";
    case PortState::Upgrading: return "upgrading";
    case PortState::Verifying: return "verifying";
    case PortState::Removing: return "remove it";
    case PortState::Ended: return "ended";
    }
    return "";
}

std::string clockNow() {
    const std::tm& t = localTimeNow().fields;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.tm_hour % 100, t.tm_min % 100, t.tm_sec % 100);
    return text;
}

std::string identityText(const std::string& model, const std::string& hardware, const std::string& software) {
    return printableUtf8(model) + " " + printableUtf8(hardware) + " " + printableUtf8(software);
}

// Columns a UTF-8 text takes on a terminal: Chinese characters take two.
std::size_t displayWidth(unsigned char lead) { return lead >= 0xE0 ? 2 : 1; }

} // namespace

StationBoard::StationBoard(const std::vector<std::string>& portNames, Options options)
    : options_(options), start_(Clock::now()) {
    for (const std::string& name : portNames) ports_.push_back({name, PortState::Waiting, 0, {}, {}, start_});
}

void StationBoard::push(const std::string& line) {
    lines_.push_back(clockNow() + " " + line);
    dirty_ = true;
    changed_.notify_all();
}

void StationBoard::setState(std::size_t port, PortState state) {
    std::lock_guard<std::mutex> guard(lock_);
    Port& p = ports_.at(port);
    if (p.state == state) return;
    p.state = state;
    p.since = Clock::now();
    if (state == PortState::Waiting) {
        p.machine.clear();
        p.result.clear();
        p.percent = 0;
    }
    if (state == PortState::Upgrading) p.percent = 0;
    // Only the beginnings of a wait are events; the rest has lines of its own.
    if (state == PortState::Waiting) push(p.name + " waiting for a machine");
    if (state == PortState::Ended) push(p.name + " ended");
    dirty_ = true;
}

void StationBoard::setMachine(std::size_t port, const std::string& model, const std::string& hardware,
                              const std::string& software) {
    std::lock_guard<std::mutex> guard(lock_);
    Port& p = ports_.at(port);
    p.machine = identityText(model, hardware, software);
    push(p.name + " machine " + p.machine);
}

void StationBoard::setPercent(std::size_t port, int percent) {
    std::lock_guard<std::mutex> guard(lock_);
    Port& p = ports_.at(port);
    if (p.percent == percent) return;
    p.percent = percent;
    dirty_ = true; // drawn with the next refresh; no event of its own
}

void StationBoard::event(std::size_t port, const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    push(ports_.at(port).name + " " + text);
}

void StationBoard::notice(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    push(text);
}

void StationBoard::finished(std::size_t port, const UpgradeLogEntry& e, const std::string& failureText,
                            double transferSeconds) {
    std::lock_guard<std::mutex> guard(lock_);
    Port& p = ports_.at(port);
    const bool ok = e.exitCode == 0;
    (ok ? totals_.done : totals_.failed) += 1;
    p.result = ok ? e.outcome : "FAILED " + e.outcome;
    char counts[160];
    std::snprintf(counts, sizeof counts, "%.1f s, blocks %u of %u, time-outs %u, rejected blocks %u", e.seconds,
                  e.blocksDone, e.blocksTotal, e.timeouts, e.rejectedBlocks);
    std::string line = p.name + " " + (ok ? "" : "FAILED ") + e.outcome;
    if (!ok) line += " (exit " + std::to_string(e.exitCode) + ")";
    line += ": " + std::string(counts);
    if (!e.softwareAfter.empty()) line += ", software now " + printableUtf8(e.softwareAfter);
    if (!failureText.empty()) line += "; " + printableUtf8(failureText);
    push(line);

    if (options_.json) {
        UpgradeEndReport report;
        report.port = e.port;
        report.outcome = e.outcome;
        report.exitCode = e.exitCode;
        report.blocks = e.blocksDone;
        report.blocksTotal = e.blocksTotal;
        report.timeouts = e.timeouts;
        report.rejectedBlocks = e.rejectedBlocks;
        report.elapsedSeconds = e.seconds;
        report.transferSeconds = transferSeconds;
        report.model = e.model;
        report.hardware = e.hardware;
        report.software = e.softwareBefore;
        if (options_.verify) report.softwareAfter = e.softwareAfter;
        json_.push_back(endReportJson(report));
    }
}

StationBoard::Totals StationBoard::totals() const {
    std::lock_guard<std::mutex> guard(lock_);
    return totals_;
}

std::string StationBoard::portLine(const Port& p, Clock::time_point now) const {
    const double seconds = std::chrono::duration<double>(now - p.since).count();
    std::string state = p.state == PortState::Removing && !p.result.empty() ? p.result + ", remove it" : stateText(p.state);
    char percent[8] = "";
    if (p.state == PortState::Upgrading) std::snprintf(percent, sizeof percent, "%3d%%", p.percent);
    char line[128];
    std::snprintf(line, sizeof line, "%-14s %-26s %4s %6.0f s  ", p.name.c_str(), state.c_str(), percent, seconds);
    return line + p.machine;
}

std::string StationBoard::totalsLine(Clock::time_point now) const {
    const double hours = std::chrono::duration<double>(now - start_).count() / 3600.0;
    const long long perHour = hours > 0 ? static_cast<long long>(static_cast<double>(totals_.done) / hours) : 0;
    return "done " + std::to_string(totals_.done) + ", failed " + std::to_string(totals_.failed) + ", " +
           std::to_string(perHour) + " per hour";
}

std::string StationBoard::fitted(std::string line) const {
    if (options_.columns <= 1) return line;
    // One column short of the width: a full line would wrap on some terminals.
    const std::size_t limit = static_cast<std::size_t>(options_.columns - 1);
    std::size_t width = 0, at = 0;
    while (at < line.size()) {
        const auto lead = static_cast<unsigned char>(line[at]);
        std::size_t length = 1;
        while (at + length < line.size() && (static_cast<unsigned char>(line[at + length]) & 0xC0) == 0x80) ++length;
        if (width + displayWidth(lead) > limit) break;
        width += displayWidth(lead);
        at += length;
    }
    line.resize(at);
    return line;
}

void StationBoard::drawLocked(Clock::time_point now) {
    std::string out;
    if (options_.live) {
        // Back to the top of the live block, which is drawn anew under the
        // lines that came since.
        if (drawnLines_ > 0) out += "\033[" + std::to_string(drawnLines_) + "F\033[J";
        for (const std::string& line : lines_) out += fitted(line) + "\n";
        for (const Port& p : ports_) out += fitted(portLine(p, now)) + "\033[K\n";
        out += fitted(totalsLine(now)) + "\033[K\n";
        drawnLines_ = static_cast<int>(ports_.size()) + 1;
    } else {
        for (const std::string& line : lines_) out += line + "\n";
    }
    lines_.clear();
    if (!out.empty()) {
        std::fputs(out.c_str(), options_.display);
        std::fflush(options_.display);
    }
    if (options_.json && !json_.empty()) {
        for (const std::string& object : json_) std::fprintf(options_.json, "%s\n", object.c_str());
        json_.clear();
        std::fflush(options_.json);
    }
    dirty_ = false;
}

void StationBoard::draw(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait_for(guard, wait, [this] { return !lines_.empty() || !json_.empty(); });
    // A live block is refreshed on every call (its seconds run on).
    if (options_.live || dirty_) drawLocked(Clock::now());
}

void StationBoard::close() {
    std::lock_guard<std::mutex> guard(lock_);
    const auto now = Clock::now();
    drawLocked(now);
    if (!options_.live) {
        std::fprintf(options_.display, "%s\n", totalsLine(now).c_str());
        std::fflush(options_.display);
    }
}

} // namespace mub::tool
