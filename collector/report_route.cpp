#include "collector/report_route.h"

#include "collector/record_store.h"
#include "collector/service_log.h"

namespace mub::collector {

HttpAnswer reportAnswer(Database& database, const CollectorSettings& settings, const Period& period) {
    const ReportWindow window = reportWindow(settings.shifts, period);
    std::vector<StationRecord> records;
    std::string error;
    const DbStatus status = database.run(
        [&](PgConnection& connection, std::string& why) {
            return recordsBetween(connection, window.begin, window.end, records, why);
        },
        error);
    if (status != DbStatus::Done) {
        serviceLog("no report: " + error);
        return {status == DbStatus::Unavailable ? 503 : 500,
                status == DbStatus::Unavailable ? "database unavailable\n" : "the database refused the report\n",
                "text/plain; charset=utf-8"};
    }
    return {200, reportPage(records, settings.shifts, period), "text/html; charset=utf-8"};
}

} // namespace mub::collector
