// The shifts of a factory's day, by the local clock of the program that
// makes the report: where each starts, and the shifts of a period of days
// as moments. A shift runs until the next one starts; the last shift of a
// day runs into the next day (22:00-06:00) and belongs to the day it
// started on.
#pragma once

#include "records/log_time.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mub {

inline constexpr const char* defaultShiftList = "06:00,14:00,22:00";

struct ShiftTimes {
    std::vector<int> starts; // minutes after local midnight, ascending
};

// "06:00,14:00,22:00": one or more times HH:MM (H:MM too), ascending. Empty,
// with the reason in `error`, for anything else.
std::optional<ShiftTimes> parseShiftTimes(std::string_view list, std::string& error);
std::string shiftTimesText(const ShiftTimes& shifts);
// "HH:MM" of minutes after midnight (the next day's times too: 30:00 is 06:00).
std::string clockText(int minutes);

// Local days, both included.
struct Period {
    CalendarDay first, last;
};

struct Shift {
    CalendarDay day;   // the day it starts on
    int index = 0;     // which of the day's shifts, from 0
    int startMinutes = 0, endMinutes = 0; // by the local clock; the end is the next start
    std::int64_t start = 0, end = 0;      // moments (seconds since 1970 UTC); end excluded
};

// The shifts that start on the period's days, in order.
std::vector<Shift> shiftsOf(const ShiftTimes& shifts, const Period& period);

// The day of the shift that runs at `moment`: at 03:00 the night shift of
// the day before.
CalendarDay shiftDayAt(const ShiftTimes& shifts, std::int64_t moment);

} // namespace mub
