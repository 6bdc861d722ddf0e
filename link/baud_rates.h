// The baud-rate list, the one table of it: what the window lists, what the
// settings file stores, what `--baud` takes. A connection is given an index
// into it: the serial channel opens its port at the item's rate, the bridge
// library gets the index in its mode record.
#pragma once

#include "serial/line_rates.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace mub {

struct BaudRate {
    std::string_view text; // as listed and stored
    std::int32_t rate;
};

inline constexpr std::array<BaudRate, 8> baudRates = {{{"4800", 4800},
                                                       {"9600", 9600},
                                                       {"19200", 19200},
                                                       {"38400", 38400},
                                                       {"51200", 51200},
                                                       {"57600", 57600},
                                                       {"102400", 102400},
                                                       {"115200", 115200}}};

// The items' texts, top to bottom.
inline constexpr std::array<std::string_view, baudRates.size()> baudRateTexts = [] {
    std::array<std::string_view, baudRates.size()> texts{};
    for (std::size_t i = 0; i < baudRates.size(); ++i) texts[i] = baudRates[i].text;
    return texts;
}();

// The item a new or incomplete settings file gets ("57600").
inline constexpr int defaultBaudIndex = 5;

// The index of the item whose text is `text`; -1 when there is none.
constexpr int baudIndexOf(std::string_view text) {
    for (std::size_t i = 0; i < baudRates.size(); ++i)
        if (baudRates[i].text == text) return static_cast<int>(i);
    return -1;
}

// The rate of item `index`; 0 when nothing is selected (-1), which opens a
// COM port at 9600 as every rate a port does not take.
constexpr std::int32_t baudRateAt(int index) {
    return index >= 0 && index < static_cast<int>(baudRates.size()) ? baudRates[static_cast<std::size_t>(index)].rate
                                                                      : 0;
}

// Whether a COM port given item `index` opens at another rate (9600).
constexpr bool comPortIgnoresRate(int index) { return comPortRateFor(baudRateAt(index)) != baudRateAt(index); }

// "4800 9600 ... 115200", with " (default)" after the default item when asked.
inline std::string baudRateList(bool markDefault) {
    std::string list;
    for (std::size_t i = 0; i < baudRates.size(); ++i) {
        if (!list.empty()) list += ' ';
        list += baudRates[i].text;
        if (markDefault && static_cast<int>(i) == defaultBaudIndex) list += " (default)";
    }
    return list;
}

// The usage error of a --baud value that is no item.
inline std::string badBaudText(const std::string& baud) { return "--baud " + baud + ": one of " + baudRateList(false); }

// The items a COM port opens at 9600, "51200 102400".
inline std::string ratesComPortsIgnore() {
    std::string list;
    for (std::size_t i = 0; i < baudRates.size(); ++i)
        if (comPortIgnoresRate(static_cast<int>(i))) list += (list.empty() ? "" : " ") + std::string(baudRates[i].text);
    return list;
}

} // namespace mub
