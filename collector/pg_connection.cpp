#include "collector/pg_connection.h"

#include <cstring>

namespace mub::collector {

namespace {

// Errors of a server that is there but not taking work: shutting down
// (57P01 admin_shutdown, 57P02 crash_shutdown), starting (57P03), and the
// connection exceptions (class 08).
bool meansUnavailable(const char* sqlState) {
    if (!sqlState) return true; // no answer from the server at all
    return std::strncmp(sqlState, "08", 2) == 0 || std::strcmp(sqlState, "57P01") == 0 ||
           std::strcmp(sqlState, "57P02") == 0 || std::strcmp(sqlState, "57P03") == 0;
}

std::string trimmedMessage(const char* message) {
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

} // namespace

std::unique_ptr<PgConnection> PgConnection::open(const std::string& conninfo, std::string& error) {
    // Later keywords win; `dbname` expands to the whole connection string,
    // so what it names overrides the defaults in front of it.
    const char* keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"5", "mub-collector", conninfo.c_str(), nullptr};
    PGconn* connection = PQconnectdbParams(keywords, values, 1);
    if (!connection) {
        error = "out of memory for a database connection";
        return nullptr;
    }
    if (PQstatus(connection) != CONNECTION_OK) {
        error = trimmedMessage(PQerrorMessage(connection));
        PQfinish(connection);
        return nullptr;
    }
    // The server's notices ("already exists, skipping", the warning of a
    // shutdown) tell nothing that the results do not.
    PQsetNoticeProcessor(connection, [](void*, const char*) {}, nullptr);
    return std::unique_ptr<PgConnection>(new PgConnection(connection));
}

PgConnection::~PgConnection() { PQfinish(connection_); }

bool PgConnection::broken() const { return PQstatus(connection_) != CONNECTION_OK; }

bool PgConnection::idle() const { return PQtransactionStatus(connection_) == PQTRANS_IDLE; }

PgResult PgConnection::checked(PGresult* raw, DbStatus& status, std::string& error) {
    PgResult result(raw);
    const ExecStatusType outcome = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (outcome == PGRES_COMMAND_OK || outcome == PGRES_TUPLES_OK) {
        status = DbStatus::Done;
        return result;
    }
    const char* sqlState = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
    status = broken() || meansUnavailable(sqlState) ? DbStatus::Unavailable : DbStatus::Failed;
    error = trimmedMessage(result ? PQresultErrorMessage(result.get()) : nullptr);
    if (error.empty()) error = trimmedMessage(PQerrorMessage(connection_));
    return nullptr;
}

PgResult PgConnection::run(const std::string& sql, const std::vector<std::string>& params, DbStatus& status,
                           std::string& error) {
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const std::string& param : params) values.push_back(param.c_str());
    return checked(PQexecParams(connection_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                                nullptr, nullptr, 0),
                   status, error);
}

DbStatus PgConnection::run(const std::string& sql, std::string& error) {
    DbStatus status = DbStatus::Done;
    checked(PQexec(connection_, sql.c_str()), status, error);
    return status;
}

} // namespace mub::collector
