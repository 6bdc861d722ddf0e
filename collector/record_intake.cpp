#include "collector/record_intake.h"

#include "collector/record_batch.h"
#include "collector/record_store.h"
#include "collector/service_log.h"

#include <nlohmann/json.hpp>

namespace mub::collector {

HttpAnswer takeBatch(const StationTokens& tokens, Database& database, std::string_view authorization,
                     std::string_view body, const std::string& peer) {
    const auto station = tokens.stationOf(bearerToken(authorization));
    if (!station) {
        serviceLog("refused a batch from " + peer + ": " +
                   (authorization.empty() ? "no Authorization header" : "unknown token"));
        return errorAnswer(401, "unknown token");
    }
    const BatchRead batch = readRecordBatch(body);
    if (batch.verdict != BatchRead::Verdict::Taken) {
        serviceLog("refused a batch of " + *station + ": " + batch.error);
        return errorAnswer(batch.verdict == BatchRead::Verdict::TooBig ? 413 : 400, batch.error);
    }
    StoreAnswer stored;
    std::string error;
    const DbStatus status = batch.records.empty()
                                ? DbStatus::Done
                                : database.run(
                                      [&](PgConnection& connection, std::string& why) {
                                          return storeRecords(connection, *station, batch.records, stored, why);
                                      },
                                      error);
    if (status == DbStatus::Unavailable) {
        serviceLog("database unavailable, a batch of " + *station + " waits: " + error);
        return errorAnswer(503, "database unavailable");
    }
    if (status == DbStatus::Failed) {
        serviceLog("the database refused a batch of " + *station + ": " + error);
        return errorAnswer(500, "the database refused the batch: " + error);
    }
    nlohmann::json conflicts = nlohmann::json::array();
    for (const RecordKey& key : stored.conflicts) {
        conflicts.push_back({{"record_id", key.recordId}, {"outcome", key.outcome}});
        serviceLog("conflict from " + *station + ": record " + key.recordId + " " + key.outcome +
                   " is stored with other content; the stored one is kept");
    }
    return {200,
            nlohmann::json{{"stored", stored.stored}, {"duplicates", stored.duplicates}, {"conflicts", conflicts}}.dump(),
            "application/json"};
}

} // namespace mub::collector
