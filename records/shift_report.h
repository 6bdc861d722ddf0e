// The shift report: per shift and per station the machines, passed,
// failed, yield, failures by reason, machines per hour and the transfer
// times, from the upgrade log's records; as figures (buildShiftReport) and
// as a page of its own (shiftReportHtml: one HTML file, its plots inline
// SVG, nothing from a network, no script). The collector serves it, and
// `mubtool report` writes it from log files.
//
// A machine's run is one record id: it counts in the shift of its first
// line (its upgrade) with the result of its latest one (a check after the
// restart supersedes the upgrade's line). Model checks are no machines.
#pragma once

#include "records/log_record.h"
#include "records/shifts.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mub {

struct StationRecord {
    std::string station; // the collector's name for the sender, or the line's computer
    LogRecord record;
};

struct PassFail {
    long long passed = 0, failed = 0;
    long long machines() const { return passed + failed; }
};

struct ReasonCount {
    std::string outcome; // the log's word: "link-lost", ...
    long long machines = 0;
};

// The histogram's buckets of transfer seconds, one set for the whole
// report so that shifts and stations compare. The regular buckets hold
// [first + i * width, first + (i + 1) * width); times far off the others
// (beyond three quartile ranges) go into an open bucket below or above
// them, so that a few hung transfers do not squeeze the rest into one bar.
struct TransferBuckets {
    double first = 0, width = 1;
    int count = 0; // all of them, open ones included; 0: no machine had a whole transfer
    bool openBelow = false, openAbove = false;
    int regular() const;
    // The bound below bucket i (i == count: above the last one); an open
    // bucket has none on its open side.
    double edge(int i) const;
    int bucketOf(double seconds) const;
};

// The machines of one station in one shift, or of all stations (station
// empty), or of the whole period.
struct StationTally {
    std::string station;
    PassFail machines;
    std::vector<ReasonCount> failures; // most first
    std::vector<PassFail> hours;       // per hour from the shift's start; empty for the whole period
    std::vector<PassFail> transfer;    // per bucket of ShiftReport::buckets: machines whose upgrade sent every block
    // Passed of all, 0 to 1; 0 without machines.
    double yield() const;
};

struct ShiftTally {
    Shift shift;
    StationTally total;
    std::vector<StationTally> stations; // by name
};

struct ShiftReport {
    Period period;
    ShiftTimes shiftTimes;
    TransferBuckets buckets;
    std::vector<ShiftTally> shifts; // those with machines, in order
    StationTally total;             // the period's
    std::vector<StationTally> stations;
    long long modelChecks = 0; // lines of model checks, which are no machines
    long long unreadTimes = 0; // lines whose time is none (not counted)
    long long outside = 0;     // machines whose shift is not in the period
};

// Whether a line is one of a model check (an identification without an
// upgrade file): no machine of the line's count.
bool isModelCheck(const LogRecord& record);

ShiftReport buildShiftReport(const std::vector<StationRecord>& records, const ShiftTimes& shifts, const Period& period);

// What the page says about itself.
struct ReportTitle {
    std::string heading = "升级班次报表";
    std::string source;             // where the records come from: log files, a collector
    std::vector<std::string> notes; // further lines for the reader: lines of a log that were skipped
    bool periodForm = false;        // a form that asks /report?from=&to= for other days (a served page)
};

// The page (UTF-8 HTML).
std::string shiftReportHtml(const ShiftReport& report, const ReportTitle& title);
std::string shiftReportHtml(const std::vector<StationRecord>& records, const ShiftTimes& shifts, const Period& period,
                            const ReportTitle& title);

} // namespace mub
