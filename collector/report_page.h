// The shift report the collector serves: which days a request asks for,
// which records those days' shifts take, and their page, the shared shift
// report (records/shift_report.h) that `mubtool report` writes too.
#pragma once

#include "collector/collector_settings.h"
#include "records/shift_report.h"
#include "records/shifts.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mub::collector {

// A report may span this many days at most: a longer one would hold a
// month's records in memory at once.
inline constexpr int maxReportDays = 31;

// From /report?from=YYYY-MM-DD&to=YYYY-MM-DD, local days, `to` included
// (no `to`: the day `from`).
std::optional<Period> parseReportPeriod(const std::string& from, const std::string& to, std::string& error);

// The day of the shift running now: before the first shift's start, the
// night shift of the day before is still on.
Period currentPeriod(const ShiftTimes& shifts);

// The moments [begin, end) of the period's shifts: from its first day's
// first shift to the end of its last day's last one (the next morning).
struct ReportWindow {
    std::int64_t begin = 0, end = 0;
};
ReportWindow reportWindow(const ShiftTimes& shifts, const Period& period);

// The HTML page of the period's records.
std::string reportPage(const std::vector<StationRecord>& records, const ShiftTimes& shifts, const Period& period);

} // namespace mub::collector
