// One connection to PostgreSQL over libpq, and its results, released where
// they were taken. Every command tells whether the database is unavailable
// (the connection broke, the server is shutting down or starting) - an
// answer of 503 that the station tries again later - or refused the
// command itself.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mub::collector {

struct PgResultRelease {
    void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, PgResultRelease>;

// How a database step ended.
enum class DbStatus {
    Done,
    Unavailable, // the database cannot be reached now
    Failed,      // it was reached and refused (a fault of ours or of its set-up)
};

class PgConnection {
public:
    // Connects with libpq's connection string `conninfo` (its own settings
    // win over the collector's defaults: a connect time-out, the program's
    // name). Empty, with libpq's reason in `error`, when it cannot.
    static std::unique_ptr<PgConnection> open(const std::string& conninfo, std::string& error);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // A command with text parameters ($1, $2, ...). On failure the result
    // is empty and `status`/`error` say why; a broken connection stays
    // broken (broken() is then true).
    PgResult run(const std::string& sql, const std::vector<std::string>& params, DbStatus& status,
                 std::string& error);
    // Commands without parameters (several, separated by semicolons) whose
    // rows are not wanted.
    DbStatus run(const std::string& sql, std::string& error);

    bool broken() const;
    // No transaction open (nor one failed and not yet ended).
    bool idle() const;

private:
    explicit PgConnection(PGconn* connection) : connection_(connection) {}
    PgResult checked(PGresult* result, DbStatus& status, std::string& error);
    PGconn* connection_;
};

// A text field of a result, as libpq gives it.
inline std::string pgText(const PGresult* result, int row, int column) {
    return std::string(PQgetvalue(result, row, column), static_cast<std::size_t>(PQgetlength(result, row, column)));
}

} // namespace mub::collector
