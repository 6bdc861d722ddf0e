#include "platform/local_zone.h"

#include <ctime>

namespace mub {

std::optional<std::int64_t> momentOfLocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1; // whatever the zone's rule says for that day
    const std::time_t moment = ::mktime(&fields);
    // -1 is also the last second of 1969, no time of an upgrade.
    if (moment == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<std::int64_t>(moment);
}

std::optional<LocalTime> localTimeAt(std::int64_t moment) {
    const auto seconds = static_cast<std::time_t>(moment);
    LocalTime local;
    if (::localtime_r(&seconds, &local.fields) == nullptr) return std::nullopt;
    local.utcOffsetSeconds = local.fields.tm_gmtoff;
    return local;
}

} // namespace mub
