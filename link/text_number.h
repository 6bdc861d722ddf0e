// Whole numbers read from texts the way the program always read them: the
// leading decimal number (a COM port name's number). No number, or one out
// of range, reads as 0.
#pragma once

#include <cstdint>
#include <string>

namespace mub {

std::int32_t leadingInteger(const std::string& text);

// "COM7" gives 7: the text after the first three characters.
std::int32_t portNumberOf(const std::string& portName);

} // namespace mub
