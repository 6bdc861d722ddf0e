// One line of the upgrade log (upgrades.csv) as a record: what the log
// reader, the sender, the collector and the shift report share. Texts are
// the CSV fields as they stand in the file (UTF-8, unquoted); the log's
// writer is upgrade/upgrade_log.h.
//
// Readers go by the header's names, since a log keeps the header it was
// made with: a log older than a column has no such field, and its lines
// read as empty texts and zeros there. A line without a record id gets one
// derived from its own bytes, so that sending it twice stores it once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mub {

struct LogRecord {
    std::string time; // "2026-12-09 06:13:18+08:00": local time with its UTC offset
    std::string computer, program, port, file, fileMd5, imageMd5;
    std::string model, hardware, softwareBefore, softwareAfter;
    std::string outcome;
    std::int64_t exitCode = 0, blocksDone = 0, blocksTotal = 0, timeouts = 0, rejectedBlocks = 0;
    double seconds = 0;
    std::string programVersion;
    std::string recordId;

    bool operator==(const LogRecord&) const = default;
};

// The log's columns, in the names of the header line; every record has all
// of them, in this order, whatever its log's header holds.
inline constexpr const char* logRecordColumns[] = {
    "time",     "computer",        "program",        "port",    "file",      "file_md5",    "image_md5",
    "model",    "hardware",        "software_before", "software_after", "outcome", "exit_code", "blocks_done",
    "blocks_total", "timeouts",    "rejected_blocks", "seconds", "program_version", "record_id"};
inline constexpr std::size_t logRecordColumnCount = std::size(logRecordColumns);

// The fields of one CSV line (without its line end): quoted fields
// unquoted, "" inside them one quote. Empty when the quotes do not close.
std::optional<std::vector<std::string>> csvFields(std::string_view line);

// Where each of logRecordColumns stands in a log's header line (-1: the
// log has no such column).
struct LogColumns {
    int index[logRecordColumnCount];
};
// A header line (a byte-order mark in front is skipped). Empty, with the
// reason in `error`, when it is not an upgrade log's header.
std::optional<LogColumns> parseLogHeader(std::string_view line, std::string& error);

// One line of the log (without its line end). Empty, with the reason in
// `error`, for a line that is not a record (quotes not closed, a number
// that is not one, no time or outcome).
std::optional<LogRecord> parseLogLine(const LogColumns& columns, std::string_view line, std::string& error);

// The id of a line that has none: the MD5 of its bytes, 32 hex digits like
// a new id.
std::string derivedRecordId(std::string_view line);

// A record as a JSON object whose keys are the log's column names, texts as
// strings and the numbers as numbers.
std::string logRecordJson(const LogRecord& record);

// Every record of a whole log file's text, in order; the last line counts
// only when it is ended. Lines that are not records are skipped and named
// in `skipped` (line number: reason).
struct LogRead {
    std::vector<LogRecord> records;
    std::vector<std::string> skipped;
};
std::optional<LogRead> readLogRecords(std::string_view text, std::string& error);

} // namespace mub
