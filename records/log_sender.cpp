#include "records/log_sender.h"

#include "platform/file_lock.h"
#include "platform/file_path.h"
#include "records/collector_answer.h"
#include "records/log_record.h"
#include "records/sent_mark.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <optional>
#include <vector>

namespace mub {
namespace {

// A header line longer than this is no upgrade log's.
constexpr std::size_t longestHeader = 64 * 1024;
constexpr std::size_t countingBlock = 64 * 1024;
constexpr std::string_view batchFront = "{\"records\":[", batchBack = "]}";

// The log read in stretches while others append to it.
class LogReader {
public:
    explicit LogReader(const std::string& path) : in_(fileSystemPath(path), std::ios::binary) {}
    bool opened() const { return in_.is_open(); }
    std::uint64_t size() {
        in_.clear();
        in_.seekg(0, std::ios::end);
        const auto end = in_.tellg();
        return end < 0 ? 0 : static_cast<std::uint64_t>(end);
    }
    // Up to `bytes` from `offset`; fewer at the end (or when reading fails).
    std::string read(std::uint64_t offset, std::size_t bytes) {
        std::string text(bytes, '\0');
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        in_.read(text.data(), static_cast<std::streamsize>(bytes));
        text.resize(in_.gcount() > 0 ? static_cast<std::size_t>(in_.gcount()) : 0);
        return text;
    }

private:
    std::ifstream in_;
};

// The end of the header line (the offset of the first record's line).
struct LogHeading {
    LogColumns columns{};
    std::uint64_t end = 0;
};

// Empty with `error` set for a file that is no upgrade log, and with
// `error` empty while its header is not yet ended.
std::optional<LogHeading> readHeading(LogReader& log, std::uint64_t size, std::string& error) {
    const std::string front = log.read(0, static_cast<std::size_t>(std::min<std::uint64_t>(size, longestHeader)));
    const std::size_t newline = front.find('\n');
    if (newline == std::string::npos) {
        if (front.size() >= longestHeader) error = "not an upgrade log: its first line does not end";
        return std::nullopt;
    }
    const auto columns = parseLogHeader(std::string_view(front).substr(0, newline), error);
    if (!columns) return std::nullopt;
    return LogHeading{*columns, newline + 1};
}

std::size_t countLineEnds(LogReader& log, std::uint64_t from, std::uint64_t to) {
    std::size_t lines = 0;
    for (std::uint64_t at = from; at < to;) {
        const std::string block = log.read(at, static_cast<std::size_t>(std::min<std::uint64_t>(to - at, countingBlock)));
        if (block.empty()) break;
        lines += static_cast<std::size_t>(std::count(block.begin(), block.end(), '\n'));
        at += block.size();
    }
    return lines;
}

// The offset just past the '\n' that ends the line going on at `from`; 0
// when it does not end before `size`.
std::uint64_t lineEndAfter(LogReader& log, std::uint64_t from, std::uint64_t size) {
    for (std::uint64_t at = from; at < size;) {
        const std::string block = log.read(at, static_cast<std::size_t>(std::min<std::uint64_t>(size - at, countingBlock)));
        if (block.empty()) return 0;
        if (const std::size_t newline = block.find('\n'); newline != std::string::npos) return at + newline + 1;
        at += block.size();
    }
    return 0;
}

// The next lines to send: records as JSON, up to the limits, and the
// offset past the last line it covers (lines that are no records included:
// the notes say which).
struct RecordBatch {
    std::vector<std::string> records; // JSON objects
    std::vector<std::string> ids;
    std::vector<std::uint64_t> starts; // of each record's line
    std::size_t bodyBytes = batchFront.size() + batchBack.size();
    std::uint64_t end = 0;
    std::vector<std::string> notes; // lines passed over
    std::string body() const {
        std::string text(batchFront);
        for (std::size_t i = 0; i < records.size(); ++i) text += (i ? "," : "") + records[i];
        return text += batchBack;
    }
};

std::string atByte(std::uint64_t offset) { return "the line at byte " + std::to_string(offset); }

RecordBatch nextBatch(LogReader& log, const LogColumns& columns, std::uint64_t from, std::uint64_t size,
                      std::size_t mostRecords, std::size_t mostBytes) {
    RecordBatch batch;
    batch.end = from;
    const std::string chunk = log.read(from, static_cast<std::size_t>(std::min<std::uint64_t>(size - from, mostBytes)));
    for (std::size_t at = 0; at < chunk.size();) {
        const std::size_t newline = chunk.find('\n', at);
        if (newline == std::string::npos) {
            // A line longer than a whole batch is no record of the log's.
            if (at == 0 && from + chunk.size() < size) {
                if (const std::uint64_t end = lineEndAfter(log, from + chunk.size(), size); end != 0) {
                    batch.notes.push_back(atByte(from) + " is longer than a whole batch: not a record");
                    batch.end = end;
                }
            }
            break; // else the rest is not ended yet
        }
        const std::string_view line = std::string_view(chunk).substr(at, newline - at);
        const std::uint64_t start = from + at;
        if (line.find_first_not_of("\r") != std::string_view::npos) {
            std::string why;
            const auto record = parseLogLine(columns, line, why);
            if (!record) {
                batch.notes.push_back(atByte(start) + " is not a record (" + why + ")");
            } else {
                std::string json = logRecordJson(*record);
                if (batch.bodyBytes + json.size() > mostBytes && batch.records.empty()) {
                    batch.notes.push_back(atByte(start) + " is too long to send");
                } else if (batch.records.size() >= mostRecords || batch.bodyBytes + json.size() + 1 > mostBytes) {
                    break;
                } else {
                    batch.bodyBytes += json.size() + (batch.records.empty() ? 0 : 1);
                    batch.records.push_back(std::move(json));
                    batch.ids.push_back(record->recordId);
                    batch.starts.push_back(start);
                }
            }
        }
        at = newline + 1;
        batch.end = from + at;
    }
    return batch;
}

void tellAll(const SendOptions& options, const std::vector<std::string>& lines, const std::string& lead = {}) {
    if (!options.tell) return;
    for (const std::string& line : lines) options.tell(lead + line);
}

std::string answerText(const HttpPostAnswer& answer) {
    const CollectorAnswer read = readCollectorAnswer(answer.body);
    return read.error.empty() ? answer.body.substr(0, 200) : read.error;
}

// Where sending goes on: at the mark, unless the log was saved anew (by a
// spreadsheet) and is shorter than its mark or has no line end before it:
// then from its start. Never inside the header.
std::uint64_t resumeAt(LogReader& log, std::uint64_t mark, std::uint64_t size, std::uint64_t headerEnd, bool& restarted) {
    restarted = mark > size || (mark > headerEnd && log.read(mark - 1, 1) != "\n");
    return restarted ? headerEnd : std::max(mark, headerEnd);
}

} // namespace

std::size_t waitingRecordLines(const std::string& logPath, bool fromStart) {
    LogReader log(logPath);
    if (!log.opened()) return 0;
    const std::uint64_t size = log.size();
    std::string error;
    const auto heading = readHeading(log, size, error);
    if (!heading) return 0;
    bool restarted = false;
    return countLineEnds(log, resumeAt(log, fromStart ? 0 : readSentMark(logPath), size, heading->end, restarted), size);
}

SendReport sendWaitingRecords(const std::string& logPath, const CollectorTarget& target, HttpPoster& poster,
                              const SendOptions& options) {
    SendReport report;
    const auto ended = [&](SendReport::Ending ending, std::string reason) {
        report.ending = ending;
        report.reason = std::move(reason);
        return report;
    };
    FileLock lock;
    std::string error;
    switch (lock.tryLock(sendLockPath(logPath), error)) {
    case FileLock::Result::Taken: break;
    case FileLock::Result::Busy:
        report.waiting = waitingRecordLines(logPath);
        return ended(SendReport::Ending::Busy, "another program is sending this log");
    case FileLock::Result::Failed: return ended(SendReport::Ending::LogProblem, error);
    }

    LogReader log(logPath);
    if (!log.opened()) {
        // No log yet: nothing waits. One that is there but cannot be read
        // (held by a program that shares it with nobody) is tried later.
        std::error_code missing;
        if (!std::filesystem::exists(fileSystemPath(logPath), missing)) return report;
        return ended(SendReport::Ending::LogProblem, "cannot read " + logPath);
    }
    std::uint64_t size = log.size();
    const auto heading = readHeading(log, size, error);
    if (!heading) {
        if (error.empty()) return report; // a header still being written
        return ended(SendReport::Ending::LogProblem, logPath + ": " + error);
    }
    bool restarted = false;
    std::uint64_t mark = resumeAt(log, options.fromStart ? 0 : readSentMark(logPath), size, heading->end, restarted);
    if (restarted && options.tell) options.tell(logPath + " changed before its mark: sent again from its start");

    const std::string url = recordsUrl(target);
    std::size_t mostRecords = std::max<std::size_t>(options.batchRecords, 1);
    for (;;) {
        if (poster.cancelled()) {
            report.ending = SendReport::Ending::Stopped;
            report.reason = "stopped";
            break;
        }
        size = log.size();
        const RecordBatch batch = nextBatch(log, heading->columns, mark, size, mostRecords, options.batchBytes);
        if (batch.end == mark) break; // nothing ended after the mark
        const auto passOver = [&](const std::vector<std::string>& notes) {
            if (!writeSentMark(logPath, batch.end)) return false;
            tellAll(options, notes, "passed over ");
            report.passedOver += notes.size();
            report.sentLines += notes.size();
            mark = batch.end;
            return true;
        };
        if (batch.records.empty()) {
            if (!passOver(batch.notes)) return ended(SendReport::Ending::LogProblem, "cannot write " + sentMarkPath(logPath));
            continue;
        }

        HttpPostRequest request;
        request.url = url;
        request.bearerToken = target.token;
        request.body = batch.body();
        request.connectBound = options.connectBound;
        request.wholeBound = options.requestBound;
        const HttpPostAnswer answer = poster.post(request);

        if (answer.status == 200) {
            if (!passOver(batch.notes)) return ended(SendReport::Ending::LogProblem, "cannot write " + sentMarkPath(logPath));
            const CollectorAnswer read = readCollectorAnswer(answer.body);
            report.sentLines += batch.records.size();
            report.stored += read.stored;
            report.duplicates += read.duplicates;
            report.conflicts += read.conflicts.size();
            for (const CollectorAnswer::Conflict& c : read.conflicts)
                if (options.tell)
                    options.tell("conflict: record " + c.recordId + " (" + c.outcome +
                                 ") is stored with other content; the collector keeps its own");
        } else if (answer.status == 400 || answer.status == 413) {
            // Halves until the line refused is alone; the limit stays so
            // until it is passed over.
            if (batch.records.size() > 1) {
                mostRecords = batch.records.size() / 2;
                continue;
            }
            std::vector<std::string> notes = batch.notes;
            notes.push_back(atByte(batch.starts[0]) + " (record " + batch.ids[0] +
                            "): the collector refuses it: " + answerText(answer));
            if (!passOver(notes)) return ended(SendReport::Ending::LogProblem, "cannot write " + sentMarkPath(logPath));
            mostRecords = std::max<std::size_t>(options.batchRecords, 1);
        } else if (answer.status == 0) {
            report.ending = poster.cancelled() ? SendReport::Ending::Stopped : SendReport::Ending::Unreachable;
            report.reason = "no answer from " + url + ": " + answer.error;
            break;
        } else {
            report.ending = answer.status == 401 || answer.status == 403 ? SendReport::Ending::Refused
                                                                          : SendReport::Ending::Unreachable;
            report.reason = url + " answered " + std::to_string(answer.status) + ": " + answerText(answer);
            break;
        }
    }
    report.waiting = countLineEnds(log, mark, log.size());
    return report;
}

} // namespace mub
