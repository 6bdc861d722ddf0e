#include "collector/report_page.h"

#include <cstdio>
#include <ctime>
#include <map>

namespace mub::collector {

namespace {

std::string dayText(const CalendarDay& day) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", day.year, day.month, day.day);
    return text;
}

} // namespace

std::optional<ReportPeriod> parseReportPeriod(const std::string& from, const std::string& to, std::string& error) {
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
    const long long begin = localMidnight(*first), end = localMidnight(*last, 1);
    if (end <= begin) {
        error = "to (" + to + ") lies before from (" + from + ")";
        return std::nullopt;
    }
    // Days of 23 and 25 hours: rounded to whole days.
    if ((end - begin + 43200) / 86400 > maxReportDays) {
        error = "a report spans at most " + std::to_string(maxReportDays) + " days";
        return std::nullopt;
    }
    return ReportPeriod{*first, *last};
}

ReportPeriod todaysPeriod() {
    const CalendarDay today = localDayOf(static_cast<long long>(std::time(nullptr)));
    return {today, today};
}

ReportWindow reportWindow(const ReportPeriod& period, const CollectorSettings&) {
    return {localMidnight(period.from), localMidnight(period.to, 1)};
}

std::string reportPage(const std::vector<StationRecord>& records, const ReportPeriod& period,
                       const CollectorSettings&) {
    // Until the shared shift report is there: the lines of each station.
    std::map<std::string, std::size_t> lines;
    for (const StationRecord& record : records) ++lines[record.station];
    std::string page = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + dayText(period.from) + " - " +
                       dayText(period.to) + "</title></head><body><table>";
    for (const auto& [station, count] : lines)
        page += "<tr><td>" + station + "</td><td>" + std::to_string(count) + "</td></tr>";
    return page + "</table></body></html>";
}

} // namespace mub::collector
