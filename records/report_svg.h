// The shift report's plots as inline SVG: bars of stacked parts (passed and
// failed) per slot, drawn by the page's own code so that it needs nothing
// from a network and no script. Colours come from CSS classes of the page.
#pragma once

#include <string>
#include <vector>

namespace mub {

struct BarChart {
    std::string caption;                        // what it shows, for screen readers (UTF-8)
    std::vector<std::string> partClasses;       // CSS class of each stacked part, bottom first
    std::vector<std::vector<long long>> values; // per slot, per part
    std::vector<std::string> tips;              // per slot: shown when the pointer rests on it
    // Labels under the slots, where `at` counts slots from the left edge:
    // 0.5 under the first slot's middle, 1 at the bound after it. Those that
    // would run into the one before are left out.
    struct Tick {
        double at;
        std::string text;
    };
    std::vector<Tick> ticks;
    bool touching = false; // the bars touch (a histogram's)
    std::string axisCaption; // under the labels: "时", "秒"
    long long scaleTop = 0;  // the value axis's top; 0: the highest stack
    int width = 520, height = 190;
    // A sparkline for a table's row: no axes, the top value in a corner.
    bool small = false;
};

// The chart as an <svg> element.
std::string barChartSvg(const BarChart& chart);

// Text for HTML and SVG: & < > " ' as entities.
std::string htmlEscaped(const std::string& utf8Text);

} // namespace mub
