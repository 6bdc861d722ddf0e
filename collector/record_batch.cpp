#include "collector/record_batch.h"

#include "records/log_time.h"

#include <nlohmann/json.hpp>

#include <limits>

namespace mub::collector {

namespace {

using Json = nlohmann::json;

BatchRead refused(BatchRead::Verdict verdict, std::string error) {
    BatchRead read;
    read.verdict = verdict;
    read.error = std::move(error);
    return read;
}

// The fields of a record, or the reason it is not one.
class RecordFields {
public:
    explicit RecordFields(const Json& object) : object_(object) {}

    bool text(const char* key, std::string& target, bool required) {
        const Json* value = field(key);
        if (!value) return false;
        if (!value->is_string()) return wrongType(key, "a string");
        target = value->get<std::string>();
        if (target.find('\0') != std::string::npos) return fail(std::string(key) + " holds a NUL character");
        if (required && target.empty()) return fail(std::string(key) + " is empty");
        return true;
    }

    bool whole(const char* key, std::int64_t& target) {
        const Json* value = field(key);
        if (!value) return false;
        if (value->is_number_unsigned()) {
            if (value->get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                return fail(std::string(key) + " is too large");
        } else if (!value->is_number_integer()) {
            return wrongType(key, "a whole number");
        }
        target = value->get<std::int64_t>();
        return true;
    }

    bool number(const char* key, double& target) {
        const Json* value = field(key);
        if (!value) return false;
        if (!value->is_number()) return wrongType(key, "a number");
        target = value->get<double>();
        return true;
    }

    const std::string& error() const { return error_; }

private:
    const Json* field(const char* key) {
        const auto found = object_.find(key);
        if (found == object_.end()) {
            fail(std::string("no field ") + key);
            return nullptr;
        }
        return &*found;
    }
    bool wrongType(const char* key, const char* kind) { return fail(std::string(key) + " is not " + kind); }
    bool fail(std::string error) {
        error_ = std::move(error);
        return false;
    }

    const Json& object_;
    std::string error_;
};

// One record; the fields in the log's column order, so that the first
// missing one is named.
bool readRecord(const Json& object, LogRecord& r, std::string& error) {
    if (!object.is_object()) {
        error = "is not an object";
        return false;
    }
    RecordFields f(object);
    const bool complete =
        f.text("time", r.time, true) && f.text("computer", r.computer, false) && f.text("program", r.program, false) &&
        f.text("port", r.port, false) && f.text("file", r.file, false) && f.text("file_md5", r.fileMd5, false) &&
        f.text("image_md5", r.imageMd5, false) && f.text("model", r.model, false) &&
        f.text("hardware", r.hardware, false) && f.text("software_before", r.softwareBefore, false) &&
        f.text("software_after", r.softwareAfter, false) && f.text("outcome", r.outcome, true) &&
        f.whole("exit_code", r.exitCode) && f.whole("blocks_done", r.blocksDone) &&
        f.whole("blocks_total", r.blocksTotal) && f.whole("timeouts", r.timeouts) &&
        f.whole("rejected_blocks", r.rejectedBlocks) && f.number("seconds", r.seconds) &&
        f.text("program_version", r.programVersion, false) && f.text("record_id", r.recordId, true);
    if (!complete) {
        error = f.error();
        return false;
    }
    if (!logTimeMoment(r.time)) {
        error = "time is not a time YYYY-MM-DD HH:MM:SS+HH:MM: " + r.time;
        return false;
    }
    return true;
}

} // namespace

BatchRead readRecordBatch(std::string_view body) {
    using Verdict = BatchRead::Verdict;
    if (body.size() > maxBatchBytes)
        return refused(Verdict::TooBig, "a batch may have at most " + std::to_string(maxBatchBytes) + " bytes");
    Json document;
    try {
        document = Json::parse(body);
    } catch (const Json::parse_error& error) {
        return refused(Verdict::Malformed, "the body is not JSON: " + std::string(error.what()));
    }
    if (!document.is_object()) return refused(Verdict::Malformed, "the body is not a JSON object");
    const auto records = document.find("records");
    if (records == document.end()) return refused(Verdict::Malformed, "no field records");
    if (!records->is_array()) return refused(Verdict::Malformed, "records is not an array");
    if (records->size() > maxBatchRecords)
        return refused(Verdict::TooBig, "a batch may have at most " + std::to_string(maxBatchRecords) + " records, this one has " +
                                            std::to_string(records->size()));
    BatchRead read;
    read.records.resize(records->size());
    for (std::size_t i = 0; i < records->size(); ++i) {
        std::string error;
        if (!readRecord((*records)[i], read.records[i], error))
            return refused(Verdict::Malformed, "record " + std::to_string(i + 1) + ": " + error);
    }
    return read;
}

} // namespace mub::collector
