#include "collector/schema.h"

#include <cstdlib>

namespace mub::collector {

namespace {

// The key of the advisory lock that the schema's steps are taken under.
constexpr const char* schemaLockKey = "7304118207";

// Step N brings version N-1 to N. A step is never changed once released:
// a later change of the tables is a new step.
constexpr const char* schemaSteps[] = {
    // 1: every line of the stations' upgrade logs, once per (record_id,
    // outcome); the log's columns as they stand in the file, the station
    // as its token names it, the line's time as a moment for the reports.
    R"(CREATE TABLE upgrade_records (
         id bigserial PRIMARY KEY,
         station text NOT NULL,
         taken_at timestamptz NOT NULL,
         received_at timestamptz NOT NULL DEFAULT now(),
         "time" text NOT NULL,
         computer text NOT NULL,
         program text NOT NULL,
         port text NOT NULL,
         file text NOT NULL,
         file_md5 text NOT NULL,
         image_md5 text NOT NULL,
         model text NOT NULL,
         hardware text NOT NULL,
         software_before text NOT NULL,
         software_after text NOT NULL,
         outcome text NOT NULL,
         exit_code bigint NOT NULL,
         blocks_done bigint NOT NULL,
         blocks_total bigint NOT NULL,
         timeouts bigint NOT NULL,
         rejected_blocks bigint NOT NULL,
         seconds double precision NOT NULL,
         program_version text NOT NULL,
         record_id text NOT NULL,
         CONSTRAINT upgrade_records_once UNIQUE (record_id, outcome));
       CREATE INDEX upgrade_records_by_time ON upgrade_records (taken_at);)",
};
static_assert(std::size(schemaSteps) == collectorSchemaVersion);

} // namespace

DbStatus prepareSchema(PgConnection& connection, SchemaCheck& check, std::string& error) {
    DbStatus status = connection.run("BEGIN", error);
    if (status != DbStatus::Done) return status;
    const auto fail = [&](DbStatus failed) {
        std::string ignored;
        connection.run("ROLLBACK", ignored);
        return failed;
    };
    if ((status = connection.run(std::string("SELECT pg_advisory_xact_lock(") + schemaLockKey + ")", error)) !=
            DbStatus::Done ||
        (status = connection.run("CREATE TABLE IF NOT EXISTS schema_version ("
                                 " version integer PRIMARY KEY,"
                                 " taken_at timestamptz NOT NULL DEFAULT now())",
                                 error)) != DbStatus::Done)
        return fail(status);
    const PgResult found = connection.run("SELECT coalesce(max(version), 0) FROM schema_version", {}, status, error);
    if (!found) return fail(status);
    check.before = std::atoi(PQgetvalue(found.get(), 0, 0));
    if (check.before > collectorSchemaVersion) {
        error = "the database's tables are of version " + std::to_string(check.before) +
                ", newer than this collector's (" + std::to_string(collectorSchemaVersion) +
                "): a newer collector keeps them";
        return fail(DbStatus::Failed);
    }
    for (int version = check.before + 1; version <= collectorSchemaVersion; ++version) {
        if ((status = connection.run(schemaSteps[version - 1], error)) != DbStatus::Done) return fail(status);
        connection.run("INSERT INTO schema_version (version) VALUES ($1)", {std::to_string(version)}, status, error);
        if (status != DbStatus::Done) return fail(status);
    }
    if ((status = connection.run("COMMIT", error)) != DbStatus::Done) return status;
    check.after = collectorSchemaVersion;
    return DbStatus::Done;
}

} // namespace mub::collector
