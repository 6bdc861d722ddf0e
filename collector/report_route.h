// GET / and GET /report: a period's records from the database as the
// shift report's page.
#pragma once

#include "collector/collector_settings.h"
#include "collector/database.h"
#include "collector/http_answer.h"
#include "collector/report_page.h"

namespace mub::collector {

// The page (text/html), 503 while the database cannot be reached.
HttpAnswer reportAnswer(Database& database, const CollectorSettings& settings, const Period& period);

} // namespace mub::collector
