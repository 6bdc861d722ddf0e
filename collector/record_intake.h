// POST /records: a station's batch from its token to its commit.
#pragma once

#include "collector/database.h"
#include "collector/http_answer.h"
#include "collector/station_tokens.h"

#include <string_view>

namespace mub::collector {

// 401 for a token not known, 400 or 413 for a batch not taken, 503 while
// the database cannot be reached, 200 with what was stored once it is
// committed. Nothing is stored unless the answer is 200.
HttpAnswer takeBatch(const StationTokens& tokens, Database& database, std::string_view authorization,
                     std::string_view body, const std::string& peer);

} // namespace mub::collector
