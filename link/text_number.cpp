#include "link/text_number.h"

#include <climits>
#include <cmath>
#include <cstdlib>

namespace mub {

std::int32_t leadingInteger(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    double value = static_cast<double>(std::strtoll(begin, &end, 10));
    if (end == begin || !std::isfinite(value)) return 0;
    value = std::trunc(value);
    if (value > INT32_MAX || value < INT32_MIN) return 0;
    return static_cast<std::int32_t>(value);
}

std::int32_t portNumberOf(const std::string& portName) {
    return portName.size() <= 3 ? 0 : leadingInteger(portName.substr(3));
}

} // namespace mub
