#include "upgrade/number_text.h"

#include "platform/gbk_text.h"

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
    if (result.ec == std::errc::result_out_of_range) {
        // strtod gives HUGE_VAL on overflow and 0 on underflow; tell them
        // apart by the exponent's sign.
        const bool tiny = std::string_view(first, static_cast<std::size_t>(last - first)).find("e-") != std::string_view::npos ||
                          std::string_view(first, static_cast<std::size_t>(last - first)).find("E-") != std::string_view::npos;
        value = tiny ? 0.0 : HUGE_VAL;
    }
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
