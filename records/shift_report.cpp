#include "records/shift_report.h"

#include "upgrade/upgrade_ending.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace mub {
namespace {

// A machine's run: the indices of its first and latest lines.
struct MachineRun {
    std::size_t first = 0, latest = 0;
    std::int64_t firstMoment = 0, latestMoment = 0;
};

struct CountedMachine {
    StationTally* shiftTotal;
    StationTally* station;
    StationTally* periodStation;
    double transferSeconds; // < 0: no transfer
    bool passed;
};

// 1, 2 or 5 times a power of ten, the smallest not below `raw`; a tenth of
// a second at least.
double roundWidth(double raw) {
    if (!(raw > 0.1)) return 0.1;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double step : {1.0, 2.0, 5.0, 10.0})
        if (step * power >= raw * (1 - 1e-9)) return step * power;
    return 10 * power;
}

TransferBuckets bucketsFor(std::vector<double> seconds) {
    TransferBuckets buckets;
    if (seconds.empty()) return buckets;
    std::sort(seconds.begin(), seconds.end());
    // The bars span the times between Tukey's far fences (three quartile
    // ranges beyond the quartiles); a transfer that hung for minutes goes
    // into an open bar at the end instead of squeezing all others into one.
    const std::size_t n = seconds.size();
    const double q1 = seconds[n / 4], q3 = seconds[(3 * n) / 4], spread = 3 * (q3 - q1);
    const double low = *std::lower_bound(seconds.begin(), seconds.end(), q1 - spread);
    const double high = *std::prev(std::upper_bound(seconds.begin(), seconds.end(), q3 + spread));
    buckets.width = roundWidth((high - low) / 20); // 10 to 20 bars
    buckets.first = std::floor(low / buckets.width) * buckets.width;
    buckets.count = static_cast<int>(std::floor((high - buckets.first) / buckets.width)) + 1;
    if (seconds.front() < buckets.first) {
        buckets.openBelow = true;
        ++buckets.count;
    }
    if (seconds.back() >= buckets.first + buckets.regular() * buckets.width) {
        buckets.openAbove = true;
        ++buckets.count;
    }
    return buckets;
}

void countMachine(StationTally& tally, bool passed, const std::string& outcome, int hour) {
    (passed ? tally.machines.passed : tally.machines.failed) += 1;
    if (hour >= 0 && hour < static_cast<int>(tally.hours.size()))
        (passed ? tally.hours[hour].passed : tally.hours[hour].failed) += 1;
    if (passed) return;
    // A handful of reasons: looking through them is quicker than a map.
    for (ReasonCount& reason : tally.failures)
        if (reason.outcome == outcome) {
            ++reason.machines;
            return;
        }
    tally.failures.push_back({outcome, 1});
}

void countTransfer(StationTally& tally, int bucket, bool passed) {
    (passed ? tally.transfer[bucket].passed : tally.transfer[bucket].failed) += 1;
}

void sortReasons(StationTally& tally) {
    std::sort(tally.failures.begin(), tally.failures.end(), [](const ReasonCount& a, const ReasonCount& b) {
        return a.machines != b.machines ? a.machines > b.machines : a.outcome < b.outcome;
    });
}

StationTally newTally(const std::string& station, std::size_t hours) {
    StationTally tally;
    tally.station = station;
    tally.hours.resize(hours);
    return tally;
}

std::vector<StationTally> stationsOf(std::map<std::string, StationTally>& byName) {
    std::vector<StationTally> stations;
    stations.reserve(byName.size());
    for (auto& [name, tally] : byName) {
        sortReasons(tally);
        stations.push_back(std::move(tally));
    }
    return stations;
}

} // namespace

int TransferBuckets::regular() const { return count - openBelow - openAbove; }

double TransferBuckets::edge(int i) const { return first + width * (i - (openBelow ? 1 : 0)); }

int TransferBuckets::bucketOf(double seconds) const {
    const double at = std::floor((seconds - first) / width) + (openBelow ? 1 : 0);
    if (!(at >= 0)) return 0;
    return at >= count - 1 ? count - 1 : static_cast<int>(at);
}

double StationTally::yield() const {
    const long long all = machines.machines();
    return all > 0 ? static_cast<double>(machines.passed) / static_cast<double>(all) : 0;
}

bool isModelCheck(const LogRecord& record) {
    return record.outcome == "identified" || record.program == "mubtool detect" || record.file.empty();
}

ShiftReport buildShiftReport(const std::vector<StationRecord>& records, const ShiftTimes& shiftTimes,
                             const Period& period) {
    ShiftReport report;
    report.period = period;
    report.shiftTimes = shiftTimes;

    // Each machine's first and latest line; of two lines at the same second
    // the later in the input is the latest (a log's order).
    std::vector<MachineRun> runs;
    std::unordered_map<std::string_view, std::size_t> runOfId;
    runOfId.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        const LogRecord& r = records[i].record;
        if (isModelCheck(r)) {
            ++report.modelChecks;
            continue;
        }
        const auto moment = logTimeMoment(r.time);
        if (!moment) {
            ++report.unreadTimes;
            continue;
        }
        const auto [at, added] = runOfId.try_emplace(r.recordId, runs.size());
        if (added) {
            runs.push_back({i, i, *moment, *moment});
            continue;
        }
        MachineRun& run = runs[at->second];
        if (*moment < run.firstMoment) {
            run.first = i;
            run.firstMoment = *moment;
        }
        if (*moment >= run.latestMoment) {
            run.latest = i;
            run.latestMoment = *moment;
        }
    }
    if (runs.empty()) return report;

    // The shifts that can hold a machine: those of the period between the
    // first machine's day and the last one's (a period of years costs nothing).
    std::int64_t earliest = runs.front().firstMoment, latest = earliest;
    for (const MachineRun& run : runs) {
        earliest = std::min(earliest, run.firstMoment);
        latest = std::max(latest, run.firstMoment);
    }
    const Period needed{std::max(period.first, shiftDayAt(shiftTimes, earliest)),
                        std::min(period.last, shiftDayAt(shiftTimes, latest))};
    std::vector<Shift> shifts;
    if (needed.first <= needed.last) shifts = shiftsOf(shiftTimes, needed);

    std::vector<StationTally> shiftTotals;
    std::vector<std::map<std::string, StationTally>> shiftStations(shifts.size());
    shiftTotals.reserve(shifts.size());
    for (const Shift& shift : shifts)
        shiftTotals.push_back(newTally({}, static_cast<std::size_t>((shift.end - shift.start + 3599) / 3600)));
    std::map<std::string, StationTally> periodStations;
    std::vector<CountedMachine> counted;
    counted.reserve(runs.size());
    for (const MachineRun& run : runs) {
        const auto after = std::upper_bound(shifts.begin(), shifts.end(), run.firstMoment,
                                            [](std::int64_t moment, const Shift& s) { return moment < s.start; });
        if (after == shifts.begin() || run.firstMoment >= std::prev(after)->end) {
            ++report.outside;
            continue;
        }
        const std::size_t s = static_cast<std::size_t>(std::prev(after) - shifts.begin());
        const StationRecord& first = records[run.first];
        const LogRecord& result = records[run.latest].record;
        const bool passed = machinePassed(static_cast<int>(result.exitCode));
        const int hour = static_cast<int>((run.firstMoment - shifts[s].start) / 3600);
        StationTally& total = shiftTotals[s];
        auto station = shiftStations[s].find(first.station);
        if (station == shiftStations[s].end())
            station = shiftStations[s].emplace(first.station, newTally(first.station, total.hours.size())).first;
        auto periodStation = periodStations.try_emplace(first.station, newTally(first.station, 0)).first;
        countMachine(total, passed, result.outcome, hour);
        countMachine(station->second, passed, result.outcome, hour);
        countMachine(periodStation->second, passed, result.outcome, -1);
        countMachine(report.total, passed, result.outcome, -1);
        // The transfer's time is that of the upgrade's line, for a transfer
        // that sent every block: one that broke off tells where it broke.
        const LogRecord& upgrade = first.record;
        const bool wholeTransfer = upgrade.blocksTotal > 0 && upgrade.blocksDone >= upgrade.blocksTotal;
        const double seconds = wholeTransfer ? upgrade.seconds : -1;
        counted.push_back({&total, &station->second, &periodStation->second, seconds, passed});
    }

    std::vector<double> transferSeconds;
    transferSeconds.reserve(counted.size());
    for (const CountedMachine& c : counted)
        if (c.transferSeconds >= 0) transferSeconds.push_back(c.transferSeconds);
    report.buckets = bucketsFor(std::move(transferSeconds));
    const auto bucketCount = static_cast<std::size_t>(report.buckets.count);
    report.total.transfer.resize(bucketCount);
    for (StationTally& total : shiftTotals) total.transfer.resize(bucketCount);
    for (auto& stations : shiftStations)
        for (auto& [name, tally] : stations) tally.transfer.resize(bucketCount);
    for (auto& [name, tally] : periodStations) tally.transfer.resize(bucketCount);
    for (const CountedMachine& c : counted) {
        if (c.transferSeconds < 0) continue;
        const int bucket = report.buckets.bucketOf(c.transferSeconds);
        for (StationTally* tally : {c.shiftTotal, c.station, c.periodStation, &report.total})
            countTransfer(*tally, bucket, c.passed);
    }

    for (std::size_t s = 0; s < shifts.size(); ++s) {
        if (shiftTotals[s].machines.machines() == 0) continue;
        ShiftTally tally;
        tally.shift = shifts[s];
        tally.total = std::move(shiftTotals[s]);
        sortReasons(tally.total);
        tally.stations = stationsOf(shiftStations[s]);
        report.shifts.push_back(std::move(tally));
    }
    sortReasons(report.total);
    report.stations = stationsOf(periodStations);
    return report;
}

std::string shiftReportHtml(const std::vector<StationRecord>& records, const ShiftTimes& shifts, const Period& period,
                            const ReportTitle& title) {
    return shiftReportHtml(buildShiftReport(records, shifts, period), title);
}

} // namespace mub
