// mubtool report: the shift report from upgrade logs, as one HTML page that
// needs nothing else (the collector serves the same page from its database).
#include "platform/file_path.h"
#include "platform/host_facts.h"
#include "platform/option_reader.h"
#include "records/log_record.h"
#include "records/shift_report.h"
#include "tools/mubtool/command.h"
#include "tools/mubtool/upgrade_file_io.h"
#include "upgrade/program_version.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>

namespace mub::tool {
namespace {

constexpr const char* reportUsage =
    "usage: mubtool report --html OUT.html [--from YYYY-MM-DD] [--to YYYY-MM-DD]\n"
    "                      [--shifts LIST] LOG.csv...\n"
    "\n"
    "Writes the shift report of the upgrade logs LOG.csv (upgrades.csv of one or\n"
    "more stations) as one HTML page: per shift and per station the machines,\n"
    "passed, failed, yield, the failures by reason, machines per hour and the\n"
    "transfer times. The page needs no network and no script; OUT.html is replaced\n"
    "only once it is complete. A machine is one record id: it counts in the shift\n"
    "of its upgrade with the result of its latest line (a check after the restart\n"
    "supersedes it); model checks are no machines. The station is the line's\n"
    "computer.\n"
    "\n"
    "options (also as --name=VALUE):\n"
    "  --html OUT.html   the page to write\n"
    "  --from DAY        the first day (local time) whose shifts are shown;\n"
    "                    default: the day of the first machine's shift\n"
    "  --to DAY          the last day, included; default: that of the last machine\n"
    "  --shifts LIST     where the shifts start, by this computer's local clock,\n"
    "                    ascending (default 06:00,14:00,22:00); a shift that runs\n"
    "                    past midnight belongs to the day it started\n"
    "\n"
    "Lines of a log that are no records are skipped; how many is printed and said\n"
    "on the page.\n"
    "\n"
    "exit codes:\n"
    "  0  written\n"
    "  1  usage error (a day or shift list that is none included)\n"
    "  4  a LOG.csv cannot be read or is no upgrade log, or OUT.html cannot be\n"
    "     written (as every command ends a file failure)\n";

struct ReportArgs {
    std::string out;
    std::optional<CalendarDay> from, to;
    ShiftTimes shifts;
    std::vector<std::string> logs;
};

std::optional<std::string> parseReportArgs(const std::vector<std::string>& args, ReportArgs& parsed) {
    std::string error, shiftList = defaultShiftList;
    OptionReader reader(args);
    while (reader.next()) {
        const std::string& name = reader.name();
        if (!reader.isOption()) {
            parsed.logs.push_back(reader.given());
        } else if (name == "--html") {
            if (!reader.nonEmptyValue(parsed.out, "a file", error)) return error;
        } else if (name == "--from" || name == "--to") {
            std::string text;
            if (!reader.value(text, error)) return error;
            const auto day = parseCalendarDay(text);
            if (!day) return name + " '" + text + "' is no day YYYY-MM-DD";
            (name == "--from" ? parsed.from : parsed.to) = day;
        } else if (name == "--shifts") {
            if (!reader.value(shiftList, error)) return error;
        } else {
            return "unknown option " + reader.given();
        }
    }
    const auto shifts = parseShiftTimes(shiftList, error);
    if (!shifts) return "--shifts: " + error;
    parsed.shifts = *shifts;
    if (parsed.out.empty()) return std::string("--html OUT.html is required");
    if (parsed.logs.empty()) return std::string("at least one LOG.csv is required");
    if (parsed.from && parsed.to && *parsed.to < *parsed.from)
        return "--to " + calendarDayText(*parsed.to) + " is before --from " + calendarDayText(*parsed.from);
    return std::nullopt;
}

// Why a file could not be read, as far as the file system tells.
std::string unreadableReason(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(fileSystemPath(path), error);
    if (!std::filesystem::exists(status)) return "no such file";
    if (std::filesystem::is_directory(status)) return "it is a folder";
    if (!std::filesystem::is_regular_file(status)) return "it is no regular file";
    return "it cannot be read (permission?)";
}

// The lines of one log as records of its computer's station; false (told
// on stderr) when the file cannot be read or is no upgrade log.
bool readLogInto(const std::string& path, std::vector<StationRecord>& records, std::vector<std::string>& notes) {
    const std::optional<Bytes> bytes = readWholeFile(path);
    if (!bytes) {
        std::fprintf(stderr, "mubtool report: cannot read %s: %s\n", path.c_str(), unreadableReason(path).c_str());
        return false;
    }
    std::string error;
    const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    const std::optional<LogRead> read = readLogRecords(text, error);
    if (!read) {
        std::fprintf(stderr, "mubtool report: %s is no upgrade log: %s\n", path.c_str(), error.c_str());
        return false;
    }
    for (const LogRecord& record : read->records) records.push_back({record.computer, record});
    if (!read->skipped.empty()) {
        const std::size_t skipped = read->skipped.size();
        std::fprintf(stderr, "mubtool report: %s: %zu line%s skipped, not records (%s%s)\n", path.c_str(), skipped,
                     skipped == 1 ? "" : "s", read->skipped.front().c_str(), skipped > 1 ? ", ..." : "");
        notes.push_back(path + "：" + std::to_string(skipped) + " 行不是记录，未计入（" + read->skipped.front() +
                        (skipped > 1 ? " 等" : "") + "）");
    }
    return true;
}

// The days of the shifts from the first machine's to the last one's; today
// when there is none.
Period periodOfRecords(const std::vector<StationRecord>& records, const ShiftTimes& shifts) {
    std::optional<std::int64_t> earliest, latest;
    for (const StationRecord& r : records) {
        if (isModelCheck(r.record)) continue;
        const auto moment = logTimeMoment(r.record.time);
        if (!moment) continue;
        if (!earliest || *moment < *earliest) earliest = moment;
        if (!latest || *moment > *latest) latest = moment;
    }
    if (!earliest) {
        const LocalTime now = localTimeNow();
        const CalendarDay today{now.fields.tm_year + 1900, now.fields.tm_mon + 1, now.fields.tm_mday};
        return {today, today};
    }
    return {shiftDayAt(shifts, *earliest), shiftDayAt(shifts, *latest)};
}

std::string sourceText(const std::vector<std::string>& logs) {
    std::string text;
    const std::size_t named = std::min<std::size_t>(logs.size(), 4);
    for (std::size_t i = 0; i < named; ++i) text += (i ? "、" : "") + logs[i];
    if (logs.size() > named) text += " 等 " + std::to_string(logs.size()) + " 个日志";
    return text + "（mubtool report " + programVersion() + "）";
}

int runReport(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(reportUsage, stdout);
        return ExitOk;
    }
    ReportArgs parsed;
    if (auto error = parseReportArgs(args, parsed)) return usageError("report", *error);

    std::vector<StationRecord> records;
    ReportTitle title;
    for (const std::string& log : parsed.logs)
        if (!readLogInto(log, records, title.notes)) return ExitFileFailure;
    Period period = periodOfRecords(records, parsed.shifts);
    if (parsed.from) period.first = *parsed.from;
    if (parsed.to) period.last = *parsed.to;
    // One bound given: the other one where the records end, but never across it.
    if (parsed.from && !parsed.to && period.last < period.first) period.last = period.first;
    if (parsed.to && !parsed.from && period.last < period.first) period.first = period.last;
    title.source = sourceText(parsed.logs);

    const ShiftReport report = buildShiftReport(records, parsed.shifts, period);
    const std::string page = shiftReportHtml(report, title);
    if (auto error = writeWholeFile(parsed.out, {reinterpret_cast<const std::uint8_t*>(page.data()), page.size()})) {
        std::fprintf(stderr, "mubtool report: cannot write %s: %s\n", parsed.out.c_str(), error->c_str());
        return ExitFileFailure;
    }
    const PassFail& all = report.total.machines;
    std::printf("%s: %s to %s, %zu shift(s) with machines, %lld machines: %lld passed, %lld failed", parsed.out.c_str(),
                calendarDayText(period.first).c_str(), calendarDayText(period.last).c_str(), report.shifts.size(),
                all.machines(), all.passed, all.failed);
    if (all.machines() > 0) std::printf(", yield %.1f%%", report.total.yield() * 100);
    std::printf("\n");
    if (report.modelChecks > 0 || report.outside > 0 || report.unreadTimes > 0)
        std::printf("not counted: %lld model-check lines, %lld machines outside the days, %lld lines without a time\n",
                    report.modelChecks, report.outside, report.unreadTimes);
    return ExitOk;
}

MubtoolCommand reportCommand("report", "write the shift report (HTML with plots) of upgrade logs", &runReport);

} // namespace
} // namespace mub::tool
