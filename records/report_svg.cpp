#include "records/report_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace mub {
namespace {

std::string svgNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    std::string s = text;
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
    return s;
}

// A round step (1, 2 or 5 times a power of ten) that divides `top` into
// at most `steps` parts.
long long axisStep(long long top, int steps) {
    long long power = 1;
    for (;;) {
        for (const long long step : {power, 2 * power, 5 * power})
            if (step * steps >= top) return step;
        power *= 10;
    }
}

// Roughly how wide a label is drawn at 11 px: CJK characters full, others half.
double labelWidth(const std::string& text) {
    double width = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) == 0x80) continue;
        width += byte >= 0xE0 ? 11 : 6.5;
    }
    return width;
}

std::string textElement(double x, double y, const char* anchor, const char* cls, const std::string& text) {
    return "<text x=\"" + svgNumber(x) + "\" y=\"" + svgNumber(y) + "\" text-anchor=\"" + anchor + "\" class=\"" + cls +
           "\">" + htmlEscaped(text) + "</text>";
}

} // namespace

std::string htmlEscaped(const std::string& utf8Text) {
    std::string out;
    out.reserve(utf8Text.size());
    for (const char c : utf8Text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string barChartSvg(const BarChart& chart) {
    const std::size_t slots = chart.values.size();
    long long highest = 0;
    for (const auto& parts : chart.values) {
        long long stack = 0;
        for (const long long v : parts) stack += v;
        highest = std::max(highest, stack);
    }
    long long top = std::max({chart.scaleTop, highest, 1LL});
    const long long step = chart.small ? top : axisStep(top, 4);
    if (!chart.small) top = (top + step - 1) / step * step;

    const double marginLeft = chart.small ? 1 : 34, marginRight = chart.small ? 1 : 8;
    const double marginTop = chart.small ? 12 : 10, marginBottom = chart.small ? 1 : (chart.axisCaption.empty() ? 20 : 34);
    const double x0 = marginLeft, x1 = chart.width - marginRight, y0 = marginTop, y1 = chart.height - marginBottom;
    const double slotWidth = slots > 0 ? (x1 - x0) / static_cast<double>(slots) : x1 - x0;
    const double gap = chart.touching ? std::min(1.5, slotWidth * 0.1) : slotWidth * 0.22;
    const auto yOf = [&](long long value) { return y1 - (y1 - y0) * static_cast<double>(value) / static_cast<double>(top); };

    std::string svg = "<svg class=\"chart" + std::string(chart.small ? " small" : "") + "\" viewBox=\"0 0 " +
                      std::to_string(chart.width) + " " + std::to_string(chart.height) + "\" width=\"" +
                      std::to_string(chart.width) + "\" height=\"" + std::to_string(chart.height) +
                      "\" role=\"img\" aria-label=\"" + htmlEscaped(chart.caption) + "\">";
    if (chart.small) {
        svg += textElement(x0, 9, "start", "peak", "最高 " + std::to_string(highest));
    } else {
        for (long long v = 0; v <= top; v += step) {
            const double y = yOf(v);
            svg += "<line class=\"grid\" x1=\"" + svgNumber(x0) + "\" x2=\"" + svgNumber(x1) + "\" y1=\"" + svgNumber(y) +
                   "\" y2=\"" + svgNumber(y) + "\"/>";
            svg += textElement(x0 - 5, y + 4, "end", "tick", std::to_string(v));
        }
    }
    for (std::size_t i = 0; i < slots; ++i) {
        const double x = x0 + slotWidth * static_cast<double>(i) + gap / 2;
        svg += "<g>";
        if (i < chart.tips.size()) svg += "<title>" + htmlEscaped(chart.tips[i]) + "</title>";
        long long stacked = 0;
        for (std::size_t part = 0; part < chart.values[i].size(); ++part) {
            const long long v = chart.values[i][part];
            if (v <= 0) continue;
            const double yTop = yOf(stacked + v), yBottom = yOf(stacked);
            const std::string cls = part < chart.partClasses.size() ? chart.partClasses[part] : "";
            svg += "<rect class=\"" + cls + "\" x=\"" + svgNumber(x) + "\" y=\"" + svgNumber(yTop) + "\" width=\"" +
                   svgNumber(slotWidth - gap) + "\" height=\"" + svgNumber(std::max(yBottom - yTop, 0.5)) + "\"/>";
            stacked += v;
        }
        // The stack's figure on top of it where there is room for it.
        if (!chart.small && stacked > 0 && slotWidth >= labelWidth(std::to_string(stacked)) + 2)
            svg += textElement(x + (slotWidth - gap) / 2, yOf(stacked) - 3, "middle", "value", std::to_string(stacked));
        svg += "</g>";
    }
    svg += "<line class=\"axis\" x1=\"" + svgNumber(x0) + "\" x2=\"" + svgNumber(x1) + "\" y1=\"" + svgNumber(y1) + "\" y2=\"" +
           svgNumber(y1) + "\"/>";
    if (!chart.small) {
        double shownUpTo = -1e9; // where the last label shown ends
        for (const BarChart::Tick& tick : chart.ticks) {
            const double x = x0 + slotWidth * tick.at, half = labelWidth(tick.text) / 2;
            if (tick.text.empty() || x - half < shownUpTo + 6) continue;
            svg += textElement(x, y1 + 14, "middle", "tick", tick.text);
            shownUpTo = x + half;
        }
        if (!chart.axisCaption.empty()) svg += textElement(x1, y1 + 29, "end", "caption", chart.axisCaption);
    }
    svg += "</svg>";
    return svg;
}

} // namespace mub
