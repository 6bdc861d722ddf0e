#include "records/log_time.h"

#include "platform/local_zone.h"

#include <cstdio>

namespace mub {
namespace {

bool readDigits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool leapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear(year) ? 29 : days[month - 1];
}

// Days since 1970-01-01 of a day of the Gregorian calendar, and back
// (H. Hinnant's civil-day algorithms).
std::int64_t daysFromCivil(int year, int month, int day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

CalendarDay civilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2));
    return {year, month, day};
}

} // namespace

std::optional<CalendarDay> parseCalendarDay(std::string_view text) {
    CalendarDay day;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !readDigits(text, 0, 4, day.year) ||
        !readDigits(text, 5, 2, day.month) || !readDigits(text, 8, 2, day.day))
        return std::nullopt;
    if (day.year < 1970 || day.month < 1 || day.month > 12 || day.day < 1 || day.day > daysInMonth(day.year, day.month))
        return std::nullopt;
    return day;
}

std::string calendarDayText(const CalendarDay& day) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", day.year, day.month, day.day);
    return text;
}

CalendarDay addDays(const CalendarDay& day, int days) {
    return civilFromDays(daysFromCivil(day.year, day.month, day.day) + days);
}

int weekdayOf(const CalendarDay& day) {
    // 1970-01-01 was a Thursday.
    const std::int64_t days = daysFromCivil(day.year, day.month, day.day);
    return static_cast<int>(((days + 4) % 7 + 7) % 7);
}

std::optional<std::int64_t> logTimeMoment(std::string_view time) {
    const auto day = parseCalendarDay(time.substr(0, 10));
    int hour = 0, minute = 0, second = 0;
    if (!day || time.size() < 19 || (time[10] != ' ' && time[10] != 'T') || !readDigits(time, 11, 2, hour) ||
        time[13] != ':' || !readDigits(time, 14, 2, minute) || time[16] != ':' || !readDigits(time, 17, 2, second) ||
        hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    std::size_t at = 19;
    if (at < time.size() && time[at] == '.') {
        const std::size_t first = ++at;
        while (at < time.size() && time[at] >= '0' && time[at] <= '9') ++at;
        if (at == first) return std::nullopt;
    }
    const std::string_view zone = time.substr(at);
    if (zone.empty()) return momentOfLocalTime(day->year, day->month, day->day, hour, minute, second);
    std::int64_t offsetSeconds = 0;
    if (zone != "Z") {
        int offsetHours = 0, offsetMinutes = 0;
        const bool colon = zone.size() == 6 && zone[3] == ':';
        if ((zone.size() != 5 && !colon) || (zone[0] != '+' && zone[0] != '-') || !readDigits(zone, 1, 2, offsetHours) ||
            !readDigits(zone, colon ? 4 : 3, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (zone[0] == '-' ? -1 : 1) * (offsetHours * 3600LL + offsetMinutes * 60LL);
    }
    return daysFromCivil(day->year, day->month, day->day) * 86400 + hour * 3600LL + minute * 60LL + second -
           offsetSeconds;
}

} // namespace mub
