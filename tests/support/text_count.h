// How often a text occurs in another (overlapping occurrences counted).
#pragma once

#include <cstddef>
#include <string>

namespace mub::test {

inline std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

} // namespace mub::test
