// The stations' records in PostgreSQL (the table upgrade_records of
// schema.h): a batch stored in one transaction, a period read back for the
// shift report.
#pragma once

#include "collector/pg_connection.h"
#include "records/log_record.h"
#include "records/shift_report.h"

#include <cstddef>
#include <string>
#include <vector>

namespace mub::collector {

struct RecordKey {
    std::string recordId, outcome;
};

struct StoreAnswer {
    std::size_t stored = 0;
    // Stored already with the same content: sent twice.
    std::size_t duplicates = 0;
    // Stored already with other content: the stored one is kept.
    std::vector<RecordKey> conflicts;
};

// Stores a batch of `station`, oldest first, in one transaction: a record
// whose (record_id, outcome) is there already is a duplicate or a conflict,
// every other one is stored. Done means committed; anything else means
// nothing of the batch is stored, the transaction rolled back.
DbStatus storeRecords(PgConnection& connection, const std::string& station, const std::vector<LogRecord>& records,
                      StoreAnswer& answer, std::string& error);

// The records whose time lies in [from, to) (seconds since 1970 UTC), in
// the order of their time, each with the station that sent it.
DbStatus recordsBetween(PgConnection& connection, std::int64_t from, std::int64_t to, std::vector<StationRecord>& records,
                        std::string& error);

} // namespace mub::collector
