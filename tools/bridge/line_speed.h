// Line speed of an open tty, including rates termios has no constant for.
#pragma once

#include <cstdint>

namespace mub::bridge {

// The rate of a baud index of the mode record: 0=4800, 1=9600, 2=19200,
// 3=38400, 4=51200, 5=57600, 6=102400, 7=115200; 0 for any other index.
std::uint32_t rateOfIndex(int index);

// Sets input and output speed; 51200 and 102400 are set as exact custom
// rates. False when the driver refuses.
bool setLineSpeed(int fd, std::uint32_t rate);

} // namespace mub::bridge
