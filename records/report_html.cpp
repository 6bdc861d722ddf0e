// The shift report as one HTML page: its style inline, its plots inline
// SVG (records/report_svg), no script, no font or picture from elsewhere.
#include "records/report_svg.h"
#include "records/shift_report.h"

#include "platform/host_facts.h"
#include "upgrade/outcome_words.h"

#include <algorithm>
#include <cstdio>

namespace mub {
namespace {

constexpr const char* pageStyle = R"(
:root { --pass: #2e8540; --fail: #c62828; --ink: #1f2933; --muted: #616e7c; --line: #d9dee3; --band: #f4f6f8; }
* { box-sizing: border-box; }
body { margin: 0; padding: 24px 32px 40px; color: var(--ink); background: #fff;
       font: 14px/1.5 "WenQuanYi Micro Hei", "Microsoft YaHei", "PingFang SC", "Noto Sans CJK SC", sans-serif; }
h1 { font-size: 24px; margin: 0 0 4px; }
h2 { font-size: 18px; margin: 0; }
h3 { font-size: 14px; margin: 0 0 6px; color: var(--muted); font-weight: normal; }
.meta { color: var(--muted); margin: 0; }
.notes { color: #8a4b00; background: #fff6e5; border: 1px solid #f3d9a4; border-radius: 4px; padding: 6px 12px 6px 28px; }
form.period { margin: 12px 0; }
form.period input, form.period button { font: inherit; padding: 2px 6px; }
.empty { font-size: 18px; padding: 24px; background: var(--band); border-radius: 6px; }
.cards { display: flex; gap: 12px; margin: 16px 0 8px; flex-wrap: wrap; }
.card { border: 1px solid var(--line); border-radius: 6px; padding: 8px 16px; min-width: 140px; }
.card .label { color: var(--muted); }
.card .figure { font-size: 28px; font-weight: bold; font-variant-numeric: tabular-nums; }
.card.fail .figure { color: var(--fail); }
.card.pass .figure { color: var(--pass); }
section { margin-top: 28px; padding-top: 12px; border-top: 2px solid var(--ink); break-inside: avoid; }
.shift-head { display: flex; justify-content: space-between; align-items: baseline; gap: 16px; flex-wrap: wrap; }
.sums { margin: 0; color: var(--muted); }
.sums b { color: var(--ink); font-size: 16px; }
.charts { display: flex; gap: 24px; flex-wrap: wrap; margin: 12px 0; }
table { border-collapse: collapse; margin: 8px 0; }
th, td { padding: 4px 10px; border-bottom: 1px solid var(--line); text-align: left; vertical-align: middle; }
th { background: var(--band); font-weight: normal; color: var(--muted); white-space: nowrap; }
td.n { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
td.failed { color: var(--fail); }
tr.total td { font-weight: bold; border-top: 2px solid var(--line); }
tr.total td.reasons { font-weight: normal; }
nav { margin: 8px 0 0; color: var(--muted); }
nav a { color: #1c5fa8; text-decoration: none; margin-right: 10px; white-space: nowrap; }
.reasons { max-width: 320px; }
.reason { display: inline-block; margin: 1px 8px 1px 0; white-space: nowrap; }
.reason b { color: var(--fail); }
.yield { display: inline-block; width: 60px; height: 8px; background: #f1d3d3; border-radius: 2px; vertical-align: middle; margin-left: 6px; }
.yield i { display: block; height: 100%; background: var(--pass); border-radius: 2px; }
table.bars td { border: none; padding: 2px 8px 2px 0; }
table.bars td.bar { width: 150px; }
table.bars td.bar i { display: block; height: 12px; background: var(--fail); border-radius: 2px; }
.legend { color: var(--muted); font-size: 12px; }
.legend i { display: inline-block; width: 10px; height: 10px; margin: 0 4px 0 10px; vertical-align: -1px; }
.legend i.pass { background: var(--pass); } .legend i.fail { background: var(--fail); }
svg.chart { display: block; overflow: visible; }
svg .pass { fill: var(--pass); } svg .fail { fill: var(--fail); }
svg .grid { stroke: #e6e9ed; stroke-width: 1; } svg .axis { stroke: #9aa5b1; stroke-width: 1; }
svg text { font-size: 11px; fill: var(--muted); } svg text.value { font-size: 10px; fill: var(--ink); }
svg text.peak { font-size: 10px; }
footer { margin-top: 32px; color: var(--muted); font-size: 12px; }
@media print { body { padding: 0; } form.period { display: none; } }
)";

std::string percentText(double share) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", share * 100);
    return text;
}

std::string countText(long long value) { return std::to_string(value); }

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    std::string s = text;
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
    return s;
}

std::string reasonWords(const std::string& outcome) {
    const char* words = outcomeWords(outcome);
    return words ? words : outcome;
}

// 早班, 中班, 夜班 as factories name three shifts; 白班 and 夜班 for two.
std::string shiftName(int index, std::size_t shiftsPerDay) {
    if (shiftsPerDay == 3) return index == 0 ? "早班" : index == 1 ? "中班" : "夜班";
    if (shiftsPerDay == 2) return index == 0 ? "白班" : "夜班";
    if (shiftsPerDay == 1) return "全天";
    return "第" + std::to_string(index + 1) + "班";
}

// 早, 中, 夜: a shift under a bar of few pixels.
std::string shortShiftName(int index, std::size_t shiftsPerDay) {
    if (shiftsPerDay == 3) return index == 0 ? "早" : index == 1 ? "中" : "夜";
    if (shiftsPerDay == 2) return index == 0 ? "白" : "夜";
    if (shiftsPerDay == 1) return "";
    return "/" + std::to_string(index + 1);
}

std::string dayHeading(const CalendarDay& day) {
    static const char* const weekdays[] = {"周日", "周一", "周二", "周三", "周四", "周五", "周六"};
    return std::to_string(day.month) + "月" + std::to_string(day.day) + "日 " + weekdays[weekdayOf(day)];
}

std::string shiftHours(const Shift& shift) {
    return clockText(shift.startMinutes) + "–" + (shift.endMinutes >= 24 * 60 ? "次日" : "") + clockText(shift.endMinutes);
}

std::string shiftAnchor(const Shift& shift) {
    return "shift-" + calendarDayText(shift.day) + "-" + std::to_string(shift.index + 1);
}

// Links to each shift's part of a long page.
std::string shiftLinks(const ShiftReport& report) {
    std::string html = "<nav>班次：";
    for (const ShiftTally& s : report.shifts)
        html += "<a href=\"#" + shiftAnchor(s.shift) + "\">" + std::to_string(s.shift.day.month) + "月" +
                std::to_string(s.shift.day.day) + "日" + shiftName(s.shift.index, report.shiftTimes.starts.size()) +
                "</a>";
    return html + "</nav>";
}

std::string nowText() {
    const std::tm& t = localTimeNow().fields;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", (t.tm_year + 1900) % 10000, (t.tm_mon + 1) % 100,
                  t.tm_mday % 100, t.tm_hour % 100, t.tm_min % 100);
    return text;
}

std::string passFailText(const PassFail& counts) {
    return "合格 " + countText(counts.passed) + "，不合格 " + countText(counts.failed);
}

std::string passFailTip(const std::string& slot, const PassFail& counts) { return slot + "：" + passFailText(counts); }

std::vector<std::vector<long long>> stacks(const std::vector<PassFail>& counts) {
    std::vector<std::vector<long long>> values;
    values.reserve(counts.size());
    for (const PassFail& c : counts) values.push_back({c.passed, c.failed});
    return values;
}

long long highestOf(const std::vector<PassFail>& counts) {
    long long highest = 0;
    for (const PassFail& c : counts) highest = std::max(highest, c.machines());
    return highest;
}

BarChart hoursChart(const StationTally& tally, const Shift& shift, bool small, long long scaleTop) {
    BarChart chart;
    chart.caption = "每小时台数";
    chart.partClasses = {"pass", "fail"};
    chart.values = stacks(tally.hours);
    for (std::size_t h = 0; h < tally.hours.size(); ++h) {
        const int from = shift.startMinutes + static_cast<int>(h) * 60;
        chart.ticks.push_back({static_cast<double>(h) + 0.5, clockText(from).substr(0, from % 60 == 0 ? 2 : 5)});
        chart.tips.push_back(passFailTip(clockText(from) + "–" + clockText(std::min(from + 60, shift.endMinutes)),
                                         tally.hours[h]));
    }
    chart.axisCaption = "时（该小时内完成的机器）";
    chart.scaleTop = scaleTop;
    chart.small = small;
    if (small) {
        chart.width = 170;
        chart.height = 40;
    }
    return chart;
}

BarChart transferChart(const StationTally& tally, const TransferBuckets& buckets, bool small, long long scaleTop,
                       int width = 520) {
    BarChart chart;
    chart.caption = "传输时间分布";
    chart.partClasses = {"pass", "fail"};
    chart.values = stacks(tally.transfer);
    chart.touching = true;
    for (int b = 0; b < buckets.count; ++b) {
        const bool below = buckets.openBelow && b == 0, above = buckets.openAbove && b == buckets.count - 1;
        const std::string from = secondsText(buckets.edge(b)), to = secondsText(buckets.edge(b + 1));
        if (below || above) chart.ticks.push_back({b + 0.5, below ? "更短" : "更长"});
        else chart.ticks.push_back({static_cast<double>(b), from});
        const std::string range = below ? "不到 " + to + " 秒" : above ? from + " 秒及以上" : from + "–" + to + " 秒";
        chart.tips.push_back(passFailTip(range, tally.transfer[static_cast<std::size_t>(b)]));
    }
    if (!buckets.openAbove) chart.ticks.push_back({static_cast<double>(buckets.count), secondsText(buckets.edge(buckets.count))});
    chart.axisCaption = "秒（升级记录的用时，只计传完的）";
    chart.scaleTop = scaleTop;
    chart.small = small;
    chart.width = width;
    if (small) {
        chart.width = 170;
        chart.height = 40;
    }
    return chart;
}

std::string reasonsCell(const StationTally& tally) {
    if (tally.failures.empty()) return "<td class=\"reasons\">—</td>";
    std::string cell = "<td class=\"reasons\">";
    for (const ReasonCount& r : tally.failures)
        cell += "<span class=\"reason\">" + htmlEscaped(reasonWords(r.outcome)) + " <b>" + countText(r.machines) +
                "</b></span>";
    return cell + "</td>";
}

std::string figureCells(const StationTally& tally) {
    const long long all = tally.machines.machines();
    return "<td class=\"n\">" + countText(all) + "</td><td class=\"n\">" + countText(tally.machines.passed) + "</td><td class=\"n" +
           (tally.machines.failed > 0 ? " failed" : "") + "\">" + countText(tally.machines.failed) + "</td><td class=\"n\">" +
           percentText(tally.yield()) + "<span class=\"yield\"><i style=\"width:" + percentText(tally.yield()) +
           "\"></i></span></td>";
}

std::string stationName(const StationTally& tally) {
    return tally.station.empty() ? "（未知工位）" : tally.station;
}

std::string passFailLegend() {
    return "<span class=\"legend\"><i class=\"pass\"></i>合格<i class=\"fail\"></i>不合格</span>";
}

std::string summaryCards(const StationTally& total) {
    const auto card = [](const char* cls, const char* label, const std::string& figure) {
        return std::string("<div class=\"card ") + cls + "\"><div class=\"label\">" + label +
               "</div><div class=\"figure\">" + figure + "</div></div>";
    };
    return "<div class=\"cards\">" + card("", "机器（台）", countText(total.machines.machines())) +
           card("pass", "合格", countText(total.machines.passed)) + card("fail", "不合格", countText(total.machines.failed)) +
           card("", "合格率", percentText(total.yield())) + "</div>";
}

// Machines of each shift of the period, stacked passed and failed.
BarChart shiftsChart(const ShiftReport& report) {
    BarChart chart;
    chart.caption = "各班次台数";
    chart.partClasses = {"pass", "fail"};
    const std::size_t perDay = report.shiftTimes.starts.size();
    for (std::size_t i = 0; i < report.shifts.size(); ++i) {
        const ShiftTally& s = report.shifts[i];
        const PassFail& m = s.total.machines;
        chart.values.push_back({m.passed, m.failed});
        const std::string name = shiftName(s.shift.index, perDay);
        chart.ticks.push_back({static_cast<double>(i) + 0.5, std::to_string(s.shift.day.day) + "日" + shortShiftName(s.shift.index, perDay)});
        chart.tips.push_back(dayHeading(s.shift.day) + " " + name + "：" + passFailText(m) + "，合格率 " +
                             percentText(s.total.yield()));
    }
    chart.axisCaption = "班次";
    chart.width = std::max(260, std::min(440, 60 + 44 * static_cast<int>(report.shifts.size())));
    return chart;
}

// Failures of the period by reason, as bars of a table.
std::string reasonBars(const StationTally& total) {
    if (total.failures.empty()) return "<p class=\"meta\">没有不合格的机器。</p>";
    const long long most = total.failures.front().machines;
    std::string html = "<table class=\"bars\">";
    for (const ReasonCount& r : total.failures)
        html += "<tr><td>" + htmlEscaped(reasonWords(r.outcome)) + "</td><td class=\"n\">" + countText(r.machines) +
                "</td><td class=\"bar\"><i style=\"width:" +
                std::to_string(std::max(1LL, r.machines * 100 / std::max(1LL, most))) + "%\"></i></td></tr>";
    return html + "</table>";
}

std::string periodSection(const ShiftReport& report) {
    std::string html = summaryCards(report.total);
    html += "<div class=\"charts\"><div><h3>各班次台数 " + passFailLegend() + "</h3>" + barChartSvg(shiftsChart(report)) +
            "</div><div><h3>不合格原因（台）</h3>" + reasonBars(report.total) + "</div>";
    if (report.buckets.count > 0)
        html += "<div><h3>传输时间分布</h3>" + barChartSvg(transferChart(report.total, report.buckets, false, 0, 440)) +
                "</div>";
    html += "</div><table><tr><th>工位</th><th>机器</th><th>合格</th><th>不合格</th><th>合格率</th><th>失败原因（台）</th></tr>";
    for (const StationTally& station : report.stations)
        html += "<tr><td>" + htmlEscaped(stationName(station)) + "</td>" + figureCells(station) + reasonsCell(station) +
                "</tr>";
    if (report.stations.size() > 1)
        html += "<tr class=\"total\"><td>合计</td>" + figureCells(report.total) + reasonsCell(report.total) + "</tr>";
    return html + "</table>";
}

std::string shiftSection(const ShiftTally& tally, const ShiftReport& report) {
    const Shift& shift = tally.shift;
    const StationTally& total = tally.total;
    std::string html = "<section id=\"" + shiftAnchor(shift) + "\"><div class=\"shift-head\"><h2>" + dayHeading(shift.day) + " · " +
                       shiftName(shift.index, report.shiftTimes.starts.size()) + " " + shiftHours(shift) +
                       "</h2><p class=\"sums\">机器 <b>" + countText(total.machines.machines()) + "</b> 台 · 合格 <b>" +
                       countText(total.machines.passed) + "</b> · 不合格 <b>" + countText(total.machines.failed) +
                       "</b> · 合格率 <b>" + percentText(total.yield()) + "</b></p></div>";
    html += "<div class=\"charts\"><div><h3>每小时台数 " + passFailLegend() + "</h3>" +
            barChartSvg(hoursChart(total, shift, false, 0)) + "</div>";
    if (report.buckets.count > 0)
        html += "<div><h3>传输时间分布</h3>" + barChartSvg(transferChart(total, report.buckets, false, 0)) + "</div>";
    html += "</div>";
    // The rows' small plots share one scale, so that stations compare.
    long long hourTop = 0, transferTop = 0;
    for (const StationTally& station : tally.stations) {
        hourTop = std::max(hourTop, highestOf(station.hours));
        transferTop = std::max(transferTop, highestOf(station.transfer));
    }
    html += "<table><tr><th>工位</th><th>机器</th><th>合格</th><th>不合格</th><th>合格率</th><th>失败原因（台）</th>"
            "<th>每小时台数</th><th>传输时间</th></tr>";
    for (const StationTally& station : tally.stations) {
        html += "<tr><td>" + htmlEscaped(stationName(station)) + "</td>" + figureCells(station) + reasonsCell(station) +
                "<td>" + barChartSvg(hoursChart(station, shift, true, hourTop)) + "</td><td>" +
                (report.buckets.count > 0 ? barChartSvg(transferChart(station, report.buckets, true, transferTop)) : "") +
                "</td></tr>";
    }
    if (tally.stations.size() > 1)
        html += "<tr class=\"total\"><td>合计</td>" + figureCells(total) + reasonsCell(total) + "<td></td><td></td></tr>";
    return html + "</table></section>";
}

std::string pageFooter(const ShiftReport& report) {
    std::string html = "<footer><p>一台机器按一条记录编号计：计入它第一行（升级）所在的班次，按它最后一行的结果判定"
                       "（重启后的版本确认取代升级那一行）。升级完成即为合格（版本已确认或未确认），其余结果均为不合格。"
                       "班次按生成本页的计算机的本地时间划分，跨过午夜的班次属于它开始的那一天。</p>";
    std::vector<std::string> left;
    if (report.modelChecks > 0) left.push_back("型号检查 " + countText(report.modelChecks) + " 行（不是升级，不计为机器）");
    if (report.outside > 0) left.push_back("所选期间以外的机器 " + countText(report.outside) + " 台");
    if (report.unreadTimes > 0) left.push_back("时间无法识别的记录 " + countText(report.unreadTimes) + " 行");
    if (!left.empty()) {
        html += "<p>未计入：";
        for (std::size_t i = 0; i < left.size(); ++i) html += (i ? "；" : "") + htmlEscaped(left[i]);
        html += "。</p>";
    }
    return html + "</footer>";
}

} // namespace

std::string shiftReportHtml(const ShiftReport& report, const ReportTitle& title) {
    const std::string first = calendarDayText(report.period.first), last = calendarDayText(report.period.last);
    const std::string period = first == last ? first : first + " 至 " + last;
    std::string starts;
    for (const int start : report.shiftTimes.starts) starts += (starts.empty() ? "" : "、") + clockText(start);
    std::string html = "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>" +
                       htmlEscaped(title.heading + " " + period) + "</title><style>" + pageStyle +
                       "</style></head><body><header><h1>" + htmlEscaped(title.heading) + "</h1><p class=\"meta\">期间 " +
                       period + " · 班次 " + starts + " 起 · 生成于 " + nowText() + "</p>";
    if (!title.source.empty()) html += "<p class=\"meta\">数据来源：" + htmlEscaped(title.source) + "</p>";
    if (title.periodForm)
        html += "<form class=\"period\" method=\"get\" action=\"/report\">从 <input type=\"date\" name=\"from\" value=\"" +
                first + "\"> 至 <input type=\"date\" name=\"to\" value=\"" + last +
                "\"> <button type=\"submit\">查看</button> <a href=\"/\">今天</a></form>";
    if (!title.notes.empty()) {
        html += "<ul class=\"notes\">";
        for (const std::string& note : title.notes) html += "<li>" + htmlEscaped(note) + "</li>";
        html += "</ul>";
    }
    html += "</header>";
    if (report.shifts.empty()) {
        html += "<p class=\"empty\">" + period + " 没有升级记录。</p>";
    } else {
        if (report.shifts.size() > 1) html += shiftLinks(report);
        html += periodSection(report);
        for (const ShiftTally& shift : report.shifts) html += shiftSection(shift, report);
    }
    return html + pageFooter(report) + "</body></html>\n";
}

} // namespace mub
