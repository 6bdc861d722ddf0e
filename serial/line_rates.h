// The line rates a COM port can be given. Any other rate opens the port at
// 9600 baud: two items of the baud-rate list (51200 and 102400) are rates of
// the USB bridge that a COM port does not take.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace mub {

inline constexpr std::array<std::int32_t, 18> comPortRates = {110,   150,   300,   600,   1200,   1800,
                                                              2400,  4800,  7200,  9600,   14400,  19200,
                                                              38400, 56000, 57600, 115200, 128000, 256000};
inline constexpr std::int32_t fallbackComPortRate = 9600;

// The rate a COM port opens at when `requested` is asked for.
constexpr std::int32_t comPortRateFor(std::int32_t requested) {
    return std::find(comPortRates.begin(), comPortRates.end(), requested) != comPortRates.end() ? requested
                                                                                                : fallbackComPortRate;
}

} // namespace mub
