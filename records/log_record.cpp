#include "records/log_record.h"

#include "platform/json_text.h"
#include "upgrade_file/md5.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace mub {
namespace {

constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";

enum Column : std::size_t {
    Time, Computer, Program, Port, File, FileMd5, ImageMd5, Model, Hardware, SoftwareBefore, SoftwareAfter,
    Outcome, ExitCode, BlocksDone, BlocksTotal, Timeouts, RejectedBlocks, Seconds, ProgramVersion, RecordId
};
static_assert(RecordId + 1 == logRecordColumnCount);

bool readInteger(const std::string& text, std::int64_t& value) {
    if (text.empty()) {
        value = 0;
        return true;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

bool readDecimal(const std::string& text, double& value) {
    if (text.empty()) {
        value = 0;
        return true;
    }
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

std::string_view withoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

} // namespace

std::optional<std::vector<std::string>> csvFields(std::string_view line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"') {
                fields.back() += c;
            } else if (i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (quoted) return std::nullopt;
    return fields;
}

std::optional<LogColumns> parseLogHeader(std::string_view line, std::string& error) {
    if (line.substr(0, byteOrderMark.size()) == byteOrderMark) line.remove_prefix(byteOrderMark.size());
    const auto names = csvFields(withoutLineEnd(line));
    LogColumns columns{};
    for (int& index : columns.index) index = -1;
    if (names) {
        for (std::size_t at = 0; at < names->size(); ++at)
            for (std::size_t column = 0; column < logRecordColumnCount; ++column)
                if ((*names)[at] == logRecordColumns[column] && columns.index[column] < 0)
                    columns.index[column] = static_cast<int>(at);
    }
    if (columns.index[Time] < 0 || columns.index[Outcome] < 0) {
        error = "not an upgrade log: its first line has no columns time and outcome";
        return std::nullopt;
    }
    return columns;
}

std::string derivedRecordId(std::string_view line) { return md5Hex(withoutLineEnd(line)); }

std::optional<LogRecord> parseLogLine(const LogColumns& columns, std::string_view line, std::string& error) {
    line = withoutLineEnd(line);
    const auto fields = csvFields(line);
    if (!fields) {
        error = "a quote is not closed";
        return std::nullopt;
    }
    std::string values[logRecordColumnCount];
    for (std::size_t column = 0; column < logRecordColumnCount; ++column) {
        const int at = columns.index[column];
        if (at >= 0 && static_cast<std::size_t>(at) < fields->size()) values[column] = (*fields)[at];
    }
    if (values[Time].empty() || values[Outcome].empty()) {
        error = "no time or no outcome";
        return std::nullopt;
    }
    LogRecord record;
    std::string* texts[] = {&record.time,     &record.computer, &record.program,        &record.port,
                            &record.file,     &record.fileMd5,  &record.imageMd5,       &record.model,
                            &record.hardware, &record.softwareBefore, &record.softwareAfter, &record.outcome};
    for (std::size_t column = 0; column < std::size(texts); ++column) *texts[column] = values[column];
    const std::pair<Column, std::int64_t*> numbers[] = {{ExitCode, &record.exitCode},
                                                        {BlocksDone, &record.blocksDone},
                                                        {BlocksTotal, &record.blocksTotal},
                                                        {Timeouts, &record.timeouts},
                                                        {RejectedBlocks, &record.rejectedBlocks}};
    for (const auto& [column, number] : numbers) {
        if (!readInteger(values[column], *number)) {
            error = std::string(logRecordColumns[column]) + " is not a whole number: " + values[column];
            return std::nullopt;
        }
    }
    if (!readDecimal(values[Seconds], record.seconds)) {
        error = "seconds is not a number: " + values[Seconds];
        return std::nullopt;
    }
    record.programVersion = values[ProgramVersion];
    record.recordId = values[RecordId].empty() ? derivedRecordId(line) : values[RecordId];
    return record;
}

std::string logRecordJson(const LogRecord& r) {
    JsonObject object;
    const std::string* texts[] = {&r.time,  &r.computer, &r.program,        &r.port,          &r.file,   &r.fileMd5,
                                  &r.imageMd5, &r.model, &r.hardware,       &r.softwareBefore, &r.softwareAfter,
                                  &r.outcome};
    for (std::size_t column = 0; column < std::size(texts); ++column) object.text(logRecordColumns[column], *texts[column]);
    object.number("exit_code", r.exitCode)
        .number("blocks_done", r.blocksDone)
        .number("blocks_total", r.blocksTotal)
        .number("timeouts", r.timeouts)
        .number("rejected_blocks", r.rejectedBlocks);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
    object.raw("seconds", seconds).text("program_version", r.programVersion).text("record_id", r.recordId);
    return object.str();
}

std::optional<LogRead> readLogRecords(std::string_view text, std::string& error) {
    const std::size_t headerEnd = text.find('\n');
    if (headerEnd == std::string_view::npos) {
        error = "not an upgrade log: no header line";
        return std::nullopt;
    }
    const auto columns = parseLogHeader(text.substr(0, headerEnd), error);
    if (!columns) return std::nullopt;
    LogRead read;
    std::size_t lineNumber = 1;
    for (std::size_t at = headerEnd + 1; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) break; // a line still being written
        ++lineNumber;
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (withoutLineEnd(line).empty()) continue;
        std::string why;
        if (auto record = parseLogLine(*columns, line, why))
            read.records.push_back(std::move(*record));
        else
            read.skipped.push_back("line " + std::to_string(lineNumber) + ": " + why);
    }
    return read;
}

} // namespace mub
