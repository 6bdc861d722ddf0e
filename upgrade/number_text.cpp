#include "upgrade/number_text.h"

#include "platform/gbk_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace mub {

std::string foldFullWidth(std::string_view gbkText) {
    std::string out;
    out.reserve(gbkText.size());
    for (std::size_t i = 0; i < gbkText.size();) {
        const auto lead = static_cast<unsigned char>(gbkText[i]);
        if (gbkCharLength(lead) == 2 && i + 1 < gbkText.size()) {
            const auto trail = static_cast<unsigned char>(gbkText[i + 1]);
            if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
                out += static_cast<char>(trail - 0xA1 + 0x21);
            } else if (lead == 0xA1 && trail == 0xA1) {
                out += ' ';
            } else {
                out.append(gbkText.substr(i, 2));
            }
            i += 2;
        } else {
            out += static_cast<char>(lead);
            ++i;
        }
    }
    return out;
}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// C-locale white space, as strtod skips it.
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// For a number that from_chars finds out of a double's range: true when it
// is too large (strtod gives HUGE_VAL), false when too small (strtod gives
// 0). That follows from the power of ten of its first nonzero digit plus
// its exponent, which is far from zero either way.
bool beyondLargest(std::string_view number) {
    const std::size_t exponentMark = number.find_first_of("eE");
    const std::string_view mantissa = number.substr(0, exponentMark);
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t firstNonZero = mantissa.find_first_of("123456789");
    if (firstNonZero == std::string_view::npos) return false;
    const long long power = firstNonZero < point ? static_cast<long long>(point - firstNonZero) - 1
                                                 : -static_cast<long long>(firstNonZero - point);
    long long exponent = 0;
    if (exponentMark != std::string_view::npos) {
        std::size_t j = exponentMark + 1;
        const bool negative = j < number.size() && number[j] == '-';
        if (j < number.size() && (number[j] == '+' || number[j] == '-')) ++j;
        for (; j < number.size() && isDigit(number[j]); ++j)
            exponent = std::min(exponent * 10 + (number[j] - '0'), 1'000'000'000LL);
        if (negative) exponent = -exponent;
    }
    return power + exponent > 0;
}

} // namespace

double readNumber(std::string_view gbkText) {
    const std::string text = foldFullWidth(gbkText);
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) ++i;

    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t start = i;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return 0.0;
    // An exponent counts only when at least one digit follows its sign.
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j])) ++j;
            i = j;
        }
    }

    double value = 0.0;
    const char* first = text.data() + start;
    const char* last = text.data() + i;
    const auto result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range)
        value = beyondLargest(std::string_view(first, static_cast<std::size_t>(last - first))) ? HUGE_VAL : 0.0;
    return negative ? -value : value;
}

std::string numberText(double value) {
    const int length = std::snprintf(nullptr, 0, "%lf", value);
    if (length <= 0) return "0";
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%lf", value);
    text.resize(static_cast<std::size_t>(length));
    if (text.find('.') != std::string::npos) {
        while (!text.empty() && text.back() == '0') text.pop_back();
        if (!text.empty() && text.back() == '.') text.pop_back();
    }
    return text;
}

} // namespace mub
