#include "records/shifts.h"

#include "platform/local_zone.h"

#include <cstdio>

namespace mub {
namespace {

// "H:MM" or "HH:MM", 00:00 to 23:59.
std::optional<int> clockMinutes(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon < 1 || colon > 2 || text.size() != colon + 3) return std::nullopt;
    int hours = 0, minutes = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == colon) continue;
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        int& part = i < colon ? hours : minutes;
        part = part * 10 + (text[i] - '0');
    }
    if (hours > 23 || minutes > 59) return std::nullopt;
    return hours * 60 + minutes;
}

std::optional<std::int64_t> momentOnDay(const CalendarDay& day, int minutes) {
    return momentOfLocalTime(day.year, day.month, day.day, minutes / 60, minutes % 60);
}

} // namespace

std::optional<ShiftTimes> parseShiftTimes(std::string_view list, std::string& error) {
    ShiftTimes shifts;
    std::size_t at = 0;
    for (;;) {
        const std::size_t comma = list.find(',', at);
        const std::string_view item = list.substr(at, comma == std::string_view::npos ? list.npos : comma - at);
        const auto minutes = clockMinutes(item);
        if (!minutes) {
            error = item.empty() ? "an empty shift start in '" + std::string(list) + "' (a list like " +
                                       defaultShiftList + ")"
                                 : "'" + std::string(item) + "' is no time HH:MM (a list like " + defaultShiftList + ")";
            return std::nullopt;
        }
        if (!shifts.starts.empty() && *minutes <= shifts.starts.back()) {
            error = "shift starts must ascend within a day: " + std::string(item) + " after " +
                    clockText(shifts.starts.back());
            return std::nullopt;
        }
        shifts.starts.push_back(*minutes);
        if (comma == std::string_view::npos) return shifts;
        at = comma + 1;
    }
}

std::string clockText(int minutes) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", (minutes / 60) % 24, minutes % 60);
    return text;
}

std::string shiftTimesText(const ShiftTimes& shifts) {
    std::string text;
    for (const int start : shifts.starts) text += (text.empty() ? "" : ",") + clockText(start);
    return text;
}

std::vector<Shift> shiftsOf(const ShiftTimes& shifts, const Period& period) {
    std::vector<Shift> result;
    const int count = static_cast<int>(shifts.starts.size());
    if (count == 0) return result;
    for (CalendarDay day = period.first; day <= period.last; day = addDays(day, 1)) {
        for (int k = 0; k < count; ++k) {
            Shift shift;
            shift.day = day;
            shift.index = k;
            shift.startMinutes = shifts.starts[k];
            shift.endMinutes = k + 1 < count ? shifts.starts[k + 1] : shifts.starts[0] + 24 * 60;
            const auto start = momentOnDay(day, shift.startMinutes);
            const auto end = k + 1 < count ? momentOnDay(day, shift.endMinutes) : momentOnDay(addDays(day, 1), shifts.starts[0]);
            if (!start || !end || *end <= *start) continue;
            shift.start = *start;
            shift.end = *end;
            result.push_back(shift);
        }
    }
    return result;
}

CalendarDay shiftDayAt(const ShiftTimes& shifts, std::int64_t moment) {
    const auto local = localTimeAt(moment);
    if (!local) return {1970, 1, 1};
    const std::tm& t = local->fields;
    const CalendarDay day{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
    const int minutes = t.tm_hour * 60 + t.tm_min;
    return !shifts.starts.empty() && minutes < shifts.starts.front() ? addDays(day, -1) : day;
}

} // namespace mub
