// Whole numbers read from texts the way the program always read them: the
// leading decimal number, truncated (a COM port name's number, the baud-rate
// item). No number, or one out of range, reads as 0.
#pragma once

#include <cstdint>
#include <string>

namespace mub {

// With `allowFraction` the number is read as strtod reads it ("38400.9"
// gives 38400), otherwise as a whole decimal number.
std::int32_t leadingInteger(const std::string& text, bool allowFraction);

// "COM7" gives 7: the text after the first three characters.
std::int32_t portNumberOf(const std::string& portName);

} // namespace mub
