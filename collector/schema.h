// The collector's tables. A database is brought to this program's schema
// when the collector connects to it first: an empty one gets every table,
// an older one the steps it lacks, one at this version is left as it is.
// The version lives in the table schema_version (a line per step taken).
#pragma once

#include "collector/pg_connection.h"

#include <string>

namespace mub::collector {

inline constexpr int collectorSchemaVersion = 1;

struct SchemaCheck {
    int before = 0; // the version found (0: an empty database)
    int after = 0;
};

// In one transaction, under a lock that keeps two collectors starting at
// once from taking the same step twice. A database of a newer schema than
// this program knows is Failed, with the versions in `error`.
DbStatus prepareSchema(PgConnection& connection, SchemaCheck& check, std::string& error);

} // namespace mub::collector
