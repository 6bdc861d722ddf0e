#include "tools/mubtool/station_board.h"

#include "tools/mubtool/upgrade_end_report.h"

namespace mub::tool {
namespace {

// Columns a UTF-8 text takes on a terminal: Chinese characters take two.
std::size_t displayWidth(unsigned char lead) { return lead >= 0xE0 ? 2 : 1; }

std::string jsonObject(const StationModel::Finished& finished) {
    const UpgradeLogEntry& e = finished.entry;
    UpgradeEndReport report;
    report.port = e.port;
    report.outcome = e.outcome;
    report.exitCode = e.exitCode;
    report.blocks = e.blocksDone;
    report.blocksTotal = e.blocksTotal;
    report.timeouts = e.timeouts;
    report.rejectedBlocks = e.rejectedBlocks;
    report.elapsedSeconds = e.seconds;
    report.transferSeconds = finished.transferSeconds;
    report.model = e.model;
    report.hardware = e.hardware;
    report.software = e.softwareBefore;
    if (finished.second) report.softwareAfter = e.softwareAfter;
    report.recordId = e.recordId;
    return endReportJson(report);
}

} // namespace

std::string StationBoard::portLine(const StationModel::Port& p, Clock::time_point now) const {
    const double seconds = std::chrono::duration<double>(now - p.since).count();
    const bool after = p.state == PortState::Removing || p.state == PortState::Restarting || p.state == PortState::Verifying;
    std::string state = after && !p.result.empty() ? p.result + ", " + portStateText(p.state) : portStateText(p.state);
    char percent[8] = "";
    if (p.state == PortState::Upgrading) std::snprintf(percent, sizeof percent, "%3d%%", p.percent);
    char line[128];
    std::snprintf(line, sizeof line, "%-14s %-26s %4s %6.0f s  ", p.name.c_str(), state.c_str(), percent, seconds);
    // A waiting port's last machine is gone.
    return line + (p.state == PortState::Waiting ? std::string() : p.machine);
}

std::string StationBoard::totalsLine(Clock::time_point now) const {
    const StationModel::Totals totals = model_.totals();
    const double hours = std::chrono::duration<double>(now - model_.started()).count() / 3600.0;
    const long long perHour = hours > 0 ? static_cast<long long>(static_cast<double>(totals.done) / hours) : 0;
    const std::size_t waiting = options_.recordsWaiting ? options_.recordsWaiting() : 0;
    return "done " + std::to_string(totals.done) + ", failed " + std::to_string(totals.failed) + ", " +
           std::to_string(perHour) + " per hour" +
           (waiting > 0 ? ", " + std::to_string(waiting) + " log line(s) to send" : std::string());
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

void StationBoard::drawNow(Clock::time_point now) {
    const StationModel::News news = model_.takeNews();
    std::string out;
    if (options_.live) {
        // Back to the top of the live block, which is drawn anew under the
        // lines that came since.
        const std::vector<StationModel::Port> ports = model_.ports();
        if (drawnLines_ > 0) out += "\033[" + std::to_string(drawnLines_) + "F\033[J";
        for (const std::string& line : news.lines) out += fitted(line) + "\n";
        for (const StationModel::Port& p : ports) out += fitted(portLine(p, now)) + "\033[K\n";
        out += fitted(totalsLine(now)) + "\033[K\n";
        drawnLines_ = static_cast<int>(ports.size()) + 1;
    } else {
        for (const std::string& line : news.lines) out += line + "\n";
    }
    if (!out.empty()) {
        std::fputs(out.c_str(), options_.display);
        std::fflush(options_.display);
    }
    if (options_.json && !news.finished.empty()) {
        for (const StationModel::Finished& finished : news.finished)
            std::fprintf(options_.json, "%s\n", jsonObject(finished).c_str());
        std::fflush(options_.json);
    }
}

void StationBoard::draw(std::chrono::milliseconds wait) {
    const bool changed = model_.waitForNews(wait);
    // A live block is refreshed on every call (its seconds run on).
    if (options_.live || changed) drawNow(Clock::now());
}

void StationBoard::close() {
    const auto now = Clock::now();
    drawNow(now);
    if (!options_.live) {
        std::fprintf(options_.display, "%s\n", totalsLine(now).c_str());
        std::fflush(options_.display);
    }
}

} // namespace mub::tool
