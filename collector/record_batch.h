// The body a station posts to /records: {"records":[RECORD, ...]}, each
// record an object with every column of the upgrade log (logRecordJson):
// texts as strings (time, outcome and record_id not empty, time a time),
// exit_code, blocks_done, blocks_total, timeouts and rejected_blocks whole
// numbers, seconds a number. Keys it does not know are passed over, so
// that a newer sender's additions do not stop an older collector.
#pragma once

#include "records/log_record.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mub::collector {

inline constexpr std::size_t maxBatchRecords = 1000;
inline constexpr std::size_t maxBatchBytes = 2 * 1024 * 1024;

struct BatchRead {
    enum class Verdict { Taken, Malformed, TooBig } verdict = Verdict::Taken;
    std::string error; // why, naming the record (counted from 1) and its field
    std::vector<LogRecord> records;
};

// Reads a whole body: every record, or none and the reason.
BatchRead readRecordBatch(std::string_view body);

} // namespace mub::collector
