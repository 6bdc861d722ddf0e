// This computer's time zone, for reports kept by local days and shifts: a
// moment (seconds since 1970-01-01 00:00 UTC) and the local date and time
// it reads as, both ways, by the zone's own rules (daylight saving
// included). One implementation per operating system.
#pragma once

#include "platform/host_facts.h"

#include <cstdint>
#include <optional>

namespace mub {

// The moment at which the local clock reads the given date and time. Fields
// out of range carry over (day 32 is the next month's first). A time that
// the clock skips (moved forward) or reads twice (moved back) gets the
// system's own choice. Empty when the system cannot tell it.
std::optional<std::int64_t> momentOfLocalTime(int year, int month, int day, int hour, int minute, int second = 0);

// The local date and time at `moment`, with the zone's offset then.
std::optional<LocalTime> localTimeAt(std::int64_t moment);

} // namespace mub
