#include "collector/report_page.h"

#include "upgrade/program_version.h"

#include <ctime>

namespace mub::collector {

std::optional<Period> parseReportPeriod(const std::string& from, const std::string& to, std::string& error) {
    const auto first = parseCalendarDay(from);
    if (!first) {
        error = "from needs a day YYYY-MM-DD, given: " + from;
        return std::nullopt;
    }
    const auto last = to.empty() ? first : parseCalendarDay(to);
    if (!last) {
        error = "to needs a day YYYY-MM-DD, given: " + to;
        return std::nullopt;
    }
    if (*last < *first) {
        error = "to (" + to + ") lies before from (" + from + ")";
        return std::nullopt;
    }
    if (addDays(*first, maxReportDays - 1) < *last) {
        error = "a report spans at most " + std::to_string(maxReportDays) + " days";
        return std::nullopt;
    }
    return Period{*first, *last};
}

Period currentPeriod(const ShiftTimes& shifts) {
    const CalendarDay day = shiftDayAt(shifts, static_cast<std::int64_t>(std::time(nullptr)));
    return {day, day};
}

ReportWindow reportWindow(const ShiftTimes& shifts, const Period& period) {
    const std::vector<Shift> all = shiftsOf(shifts, period);
    if (all.empty()) return {};
    return {all.front().start, all.back().end};
}

std::string reportPage(const std::vector<StationRecord>& records, const ShiftTimes& shifts, const Period& period) {
    ReportTitle title;
    title.source = "记录汇总服务 mub-collector " + programVersion();
    title.periodForm = true;
    return shiftReportHtml(records, shifts, period, title);
}

} // namespace mub::collector
