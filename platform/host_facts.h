// What a record of this computer's work says about where and when: the
// computer's name and the local time with its offset from UTC. One
// implementation per operating system.
#pragma once

#include <ctime>
#include <string>

namespace mub {

// The computer's name (UTF-8); empty when the system does not tell it.
std::string computerName();

struct LocalTime {
    std::tm fields{};          // local date and time
    long utcOffsetSeconds = 0; // local time minus UTC (east positive)
};

LocalTime localTimeNow();

} // namespace mub
