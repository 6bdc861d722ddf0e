#include "collector/record_time.h"

#include <charconv>
#include <cstdlib>
#include <ctime>
#include <string>

namespace mub::collector {

namespace {

bool digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
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

// Days since 1970-01-01 of a day of the proleptic Gregorian calendar.
long long daysFromCivil(int year, int month, int day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::time_t localTime(std::tm fields) {
    fields.tm_isdst = -1; // whatever the zone's rule says for that day
    return std::mktime(&fields);
}

} // namespace

std::optional<CalendarDay> parseCalendarDay(std::string_view text) {
    CalendarDay day;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !digits(text, 0, 4, day.year) ||
        !digits(text, 5, 2, day.month) || !digits(text, 8, 2, day.day))
        return std::nullopt;
    if (day.year < 1970 || day.month < 1 || day.month > 12 || day.day < 1 ||
        day.day > daysInMonth(day.year, day.month))
        return std::nullopt;
    return day;
}

std::optional<double> recordEpochSeconds(std::string_view time) {
    const auto day = parseCalendarDay(time.substr(0, 10));
    int hour = 0, minute = 0, second = 0;
    if (!day || time.size() < 19 || (time[10] != ' ' && time[10] != 'T') || !digits(time, 11, 2, hour) ||
        time[13] != ':' || !digits(time, 14, 2, minute) || time[16] != ':' || !digits(time, 17, 2, second) ||
        hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    std::size_t at = 19;
    double fraction = 0;
    if (at < time.size() && time[at] == '.') {
        double scale = 0.1;
        const std::size_t first = ++at;
        for (; at < time.size() && time[at] >= '0' && time[at] <= '9'; ++at, scale /= 10) fraction += (time[at] - '0') * scale;
        if (at == first) return std::nullopt;
    }
    const std::string_view zone = time.substr(at);
    long long offsetSeconds = 0;
    if (zone.empty()) {
        std::tm fields{};
        fields.tm_year = day->year - 1900;
        fields.tm_mon = day->month - 1;
        fields.tm_mday = day->day;
        fields.tm_hour = hour;
        fields.tm_min = minute;
        fields.tm_sec = second;
        return static_cast<double>(localTime(fields)) + fraction;
    }
    if (zone != "Z") {
        int offsetHours = 0, offsetMinutes = 0;
        const bool colon = zone.size() == 6 && zone[3] == ':';
        if ((zone.size() != 5 && !colon) || (zone[0] != '+' && zone[0] != '-') || !digits(zone, 1, 2, offsetHours) ||
            !digits(zone, colon ? 4 : 3, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (zone[0] == '-' ? -1 : 1) * (offsetHours * 3600LL + offsetMinutes * 60LL);
    }
    const long long utc = daysFromCivil(day->year, day->month, day->day) * 86400 + hour * 3600LL + minute * 60LL +
                          second - offsetSeconds;
    return static_cast<double>(utc) + fraction;
}

long long localMidnight(const CalendarDay& day, int days) {
    std::tm fields{};
    fields.tm_year = day.year - 1900;
    fields.tm_mon = day.month - 1;
    fields.tm_mday = day.day + days; // mktime carries into the next months
    return static_cast<long long>(localTime(fields));
}

CalendarDay localDayOf(long long epochSeconds) {
    const std::time_t moment = static_cast<std::time_t>(epochSeconds);
    std::tm fields{};
    localtime_r(&moment, &fields);
    return {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday};
}

} // namespace mub::collector
