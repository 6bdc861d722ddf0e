// A record's time ("2026-12-09 06:13:18+08:00", as the upgrade log writes
// it) as a moment: the collector files and reports records by it.
#pragma once

#include <optional>
#include <string_view>

namespace mub::collector {

// Seconds since 1970-01-01 00:00 UTC of "YYYY-MM-DD HH:MM:SS" (a "T" for
// the space, a fraction of the seconds, the offset as +HH:MM, +HHMM or Z
// are taken too). A time without an offset is this computer's local time.
// Empty when the text is not such a time.
std::optional<double> recordEpochSeconds(std::string_view time);

struct CalendarDay {
    int year = 0, month = 0, day = 0;
};
// "YYYY-MM-DD"; empty when it is no day of the calendar.
std::optional<CalendarDay> parseCalendarDay(std::string_view text);

// Local midnight at the start of `day` plus `days` days, in seconds since
// 1970 UTC; days of 23 or 25 hours (daylight saving) count as one.
long long localMidnight(const CalendarDay& day, int days = 0);

// The local day of a moment.
CalendarDay localDayOf(long long epochSeconds);

} // namespace mub::collector
