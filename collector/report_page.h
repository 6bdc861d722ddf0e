// The shift report the collector serves: which records a period takes and
// the page made of them. The page itself is the shared shift report
// (records/shift_report.h), the same that `mubtool report` writes.
#pragma once

#include "collector/collector_settings.h"
#include "collector/record_store.h"
#include "collector/record_time.h"

#include <optional>
#include <string>
#include <vector>

namespace mub::collector {

// Days in the collector's local time zone, `to` included.
struct ReportPeriod {
    CalendarDay from, to;
};

// A report may span this many days at most: a longer one would hold a
// month's records in memory at once.
inline constexpr int maxReportDays = 31;

// From /report?from=YYYY-MM-DD&to=YYYY-MM-DD (no `to`: the day `from`).
std::optional<ReportPeriod> parseReportPeriod(const std::string& from, const std::string& to, std::string& error);

// The local day of now.
ReportPeriod todaysPeriod();

// The moments [begin, end) whose records the report of `period` reads.
struct ReportWindow {
    long long begin = 0, end = 0;
};
ReportWindow reportWindow(const ReportPeriod& period, const CollectorSettings& settings);

// The HTML page of the period's records.
std::string reportPage(const std::vector<StationRecord>& records, const ReportPeriod& period,
                       const CollectorSettings& settings);

} // namespace mub::collector
