#include "platform/local_zone.h"

#include <time.h>

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
    const __time64_t moment = ::_mktime64(&fields);
    if (moment == -1) return std::nullopt; // before 1970: refused by the runtime
    return static_cast<std::int64_t>(moment);
}

std::optional<LocalTime> localTimeAt(std::int64_t moment) {
    const auto seconds = static_cast<__time64_t>(moment);
    LocalTime local;
    if (::_localtime64_s(&local.fields, &seconds) != 0) return std::nullopt;
    // The local fields read as if they were UTC, minus the true moment.
    std::tm asUtc = local.fields;
    const __time64_t readAsUtc = ::_mkgmtime64(&asUtc);
    if (readAsUtc == -1) return std::nullopt;
    local.utcOffsetSeconds = static_cast<long>(readAsUtc - seconds);
    return local;
}

} // namespace mub
