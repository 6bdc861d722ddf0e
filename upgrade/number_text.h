// Numbers in texts the way the upgrader reads and writes them: version texts
// and the counter are read as a leading decimal number (full-width digits
// count), and numbers are written with six decimals, trailing zeros dropped.
#pragma once

#include <string>
#include <string_view>

namespace mub {

// Full-width forms folded to half-width: the GBK full-width ASCII row
// (A3A1..A3FE) becomes the ASCII characters 0x21..0x7E and the ideographic
// space A1A1 a blank. Other characters are kept as they are.
std::string foldFullWidth(std::string_view gbkText);

// The leading decimal number of the folded text, read like the C library's
// strtod in the C locale: leading white space, optional sign, digits with an
// optional decimal point, optional exponent. No number reads as 0.
double readNumber(std::string_view gbkText);

// "%lf", then trailing zeros and a trailing decimal point removed:
// 12.5 -> "12.5", 12.0 -> "12".
std::string numberText(double value);

} // namespace mub
