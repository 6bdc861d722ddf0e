#include "collector/record_store.h"

#include "records/log_time.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <map>
#include <utility>

namespace mub::collector {

namespace {

// The log's columns as the table has them, in logRecordColumns' order.
constexpr const char* recordColumnSql =
    R"("time", computer, program, port, file, file_md5, image_md5, model, hardware, software_before, )"
    R"(software_after, outcome, exit_code, blocks_done, blocks_total, timeouts, rejected_blocks, seconds, )"
    R"(program_version, record_id)";
// The same, with their types, for reading a batch sent as JSON.
constexpr const char* recordColumnTypes =
    R"("time" text, computer text, program text, port text, file text, file_md5 text, image_md5 text, )"
    R"(model text, hardware text, software_before text, software_after text, outcome text, exit_code bigint, )"
    R"(blocks_done bigint, blocks_total bigint, timeouts bigint, rejected_blocks bigint, )"
    R"(seconds double precision, program_version text, record_id text)";

// A batch as the JSON array that json_to_recordset reads: the log's
// columns, the moment of each record, its place in the batch.
std::string batchJson(const std::vector<LogRecord>& records) {
    nlohmann::json rows = nlohmann::json::array();
    for (std::size_t at = 0; at < records.size(); ++at) {
        const LogRecord& r = records[at];
        const std::string* texts[] = {&r.time,     &r.computer,      &r.program,         &r.port,
                                      &r.file,     &r.fileMd5,       &r.imageMd5,        &r.model,
                                      &r.hardware, &r.softwareBefore, &r.softwareAfter,  &r.outcome};
        nlohmann::json row;
        for (std::size_t column = 0; column < std::size(texts); ++column) row[logRecordColumns[column]] = *texts[column];
        row["exit_code"] = r.exitCode;
        row["blocks_done"] = r.blocksDone;
        row["blocks_total"] = r.blocksTotal;
        row["timeouts"] = r.timeouts;
        row["rejected_blocks"] = r.rejectedBlocks;
        row["seconds"] = r.seconds;
        row["program_version"] = r.programVersion;
        row["record_id"] = r.recordId;
        row["taken_at"] = logTimeMoment(r.time).value_or(0); // the batch's reader checked the time
        row["place"] = at;
        rows.push_back(std::move(row));
    }
    return rows.dump();
}

// The record of a result row whose columns from `first` on are recordColumnSql's.
LogRecord recordOfRow(const PGresult* result, int row, int first) {
    LogRecord r;
    std::string* texts[] = {&r.time,     &r.computer,      &r.program,        &r.port,
                            &r.file,     &r.fileMd5,       &r.imageMd5,       &r.model,
                            &r.hardware, &r.softwareBefore, &r.softwareAfter, &r.outcome};
    int column = first;
    for (std::string* text : texts) *text = pgText(result, row, column++);
    for (std::int64_t* number : {&r.exitCode, &r.blocksDone, &r.blocksTotal, &r.timeouts, &r.rejectedBlocks})
        *number = std::strtoll(PQgetvalue(result, row, column++), nullptr, 10);
    // PostgreSQL writes a double's shortest exact text: it reads back the same.
    r.seconds = std::strtod(PQgetvalue(result, row, column++), nullptr);
    r.programVersion = pgText(result, row, column++);
    r.recordId = pgText(result, row, column++);
    return r;
}

using KeyCount = std::map<std::pair<std::string, std::string>, int>;

DbStatus rolledBack(PgConnection& connection, DbStatus status) {
    std::string ignored;
    if (!connection.broken()) connection.run("ROLLBACK", ignored);
    return status;
}

} // namespace

DbStatus storeRecords(PgConnection& connection, const std::string& station, const std::vector<LogRecord>& records,
                      StoreAnswer& answer, std::string& error) {
    answer = StoreAnswer{};
    DbStatus status = connection.run("BEGIN", error);
    if (status != DbStatus::Done) return rolledBack(connection, status);
    static const std::string insert = std::string("INSERT INTO upgrade_records (station, taken_at, ") +
                                      recordColumnSql + ") SELECT $1, to_timestamp(r.taken_at), r." +
                                      // every column of r, in the table's order
                                      R"("time", r.computer, r.program, r.port, r.file, r.file_md5, r.image_md5, )"
                                      R"(r.model, r.hardware, r.software_before, r.software_after, r.outcome, )"
                                      R"(r.exit_code, r.blocks_done, r.blocks_total, r.timeouts, r.rejected_blocks, )"
                                      R"(r.seconds, r.program_version, r.record_id )"
                                      "FROM json_to_recordset($2::json) AS r(" +
                                      recordColumnTypes +
                                      ", taken_at double precision, place bigint) ORDER BY r.place "
                                      "ON CONFLICT (record_id, outcome) DO NOTHING RETURNING record_id, outcome";
    const std::string rows = batchJson(records);
    const PgResult inserted = connection.run(insert, {station, rows}, status, error);
    if (!inserted) return rolledBack(connection, status);

    // Of records with the same key in one batch the first one is stored;
    // any other record with a key of the batch was there already.
    KeyCount insertedKeys;
    for (int row = 0; row < PQntuples(inserted.get()); ++row)
        ++insertedKeys[{pgText(inserted.get(), row, 0), pgText(inserted.get(), row, 1)}];
    answer.stored = static_cast<std::size_t>(PQntuples(inserted.get()));
    if (answer.stored < records.size()) {
        static const std::string stored =
            std::string("SELECT ") + recordColumnSql +
            " FROM upgrade_records WHERE (record_id, outcome) IN"
            " (SELECT k.record_id, k.outcome FROM json_to_recordset($1::json) AS k(record_id text, outcome text))";
        const PgResult found = connection.run(stored, {rows}, status, error);
        if (!found) return rolledBack(connection, status);
        std::map<std::pair<std::string, std::string>, LogRecord> storedRecords;
        for (int row = 0; row < PQntuples(found.get()); ++row) {
            LogRecord record = recordOfRow(found.get(), row, 0);
            storedRecords.emplace(std::pair(record.recordId, record.outcome), std::move(record));
        }
        for (const LogRecord& record : records) {
            const std::pair key(record.recordId, record.outcome);
            if (auto first = insertedKeys.find(key); first != insertedKeys.end() && first->second > 0) {
                --first->second;
                continue;
            }
            const auto there = storedRecords.find(key);
            if (there != storedRecords.end() && there->second == record)
                ++answer.duplicates;
            else
                answer.conflicts.push_back({record.recordId, record.outcome});
        }
    }
    if ((status = connection.run("COMMIT", error)) != DbStatus::Done) {
        answer = StoreAnswer{};
        return rolledBack(connection, status);
    }
    return DbStatus::Done;
}

DbStatus recordsBetween(PgConnection& connection, std::int64_t from, std::int64_t to, std::vector<StationRecord>& records,
                        std::string& error) {
    static const std::string query = std::string("SELECT station, ") + recordColumnSql +
                                     " FROM upgrade_records WHERE taken_at >= to_timestamp($1)"
                                     " AND taken_at < to_timestamp($2) ORDER BY taken_at, id";
    DbStatus status = DbStatus::Done;
    const PgResult found = connection.run(query, {std::to_string(from), std::to_string(to)}, status, error);
    if (!found) return status;
    const int rows = PQntuples(found.get());
    records.clear();
    records.reserve(static_cast<std::size_t>(rows));
    for (int row = 0; row < rows; ++row) records.push_back({pgText(found.get(), row, 0), recordOfRow(found.get(), row, 1)});
    return DbStatus::Done;
}

} // namespace mub::collector
