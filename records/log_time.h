// Times and days of the upgrade log's records: a line's time as a moment,
// and the calendar days that reports are asked for.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mub {

struct CalendarDay {
    int year = 0, month = 0, day = 0;
    auto operator<=>(const CalendarDay&) const = default;
};

// "YYYY-MM-DD"; empty when it is no day of the calendar (from 1970 on).
std::optional<CalendarDay> parseCalendarDay(std::string_view text);
std::string calendarDayText(const CalendarDay& day);
// The day `days` after `day` (before it when negative).
CalendarDay addDays(const CalendarDay& day, int days);
// 0 for a Sunday, 1 for a Monday, ... 6 for a Saturday.
int weekdayOf(const CalendarDay& day);

// The moment (seconds since 1970-01-01 00:00 UTC) of a log line's time,
// "2026-12-09 06:13:18+08:00": the offset as +HH:MM, +HHMM or Z, a "T" for
// the space and a fraction of the seconds are taken too. A time without an
// offset is this computer's local time. Empty when the text is no such time.
std::optional<std::int64_t> logTimeMoment(std::string_view time);

} // namespace mub
