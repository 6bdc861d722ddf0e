// The collector's connections to its database, shared by the HTTP
// workers: at most `maxConnections` open at once, each used by one worker
// at a time. A connection that broke is dropped and the next step opens a
// new one, so the collector comes back by itself when the database does.
// The first connection that succeeds brings the tables to this program's
// schema (schema.h).
#pragma once

#include "collector/pg_connection.h"
#include "collector/schema.h"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mub::collector {

class Database {
public:
    Database(std::string conninfo, std::size_t maxConnections);

    using Step = std::function<DbStatus(PgConnection&, std::string& error)>;

    // Runs `step` on a connection of its own. A step that finds a kept
    // connection broken (the database restarted since) runs once more on a
    // new one; steps must therefore be whole transactions. A step must end
    // its transaction (the connection is dropped otherwise).
    DbStatus run(const Step& step, std::string& error);

    // Whether the database answers now (the first time: connected, and
    // the schema prepared).
    DbStatus check(std::string& error);

    // What the first successful connection found and did to the schema.
    SchemaCheck schema() const;

private:
    struct Lease {
        std::unique_ptr<PgConnection> connection;
        bool fresh = false;
    };
    DbStatus take(Lease& lease, bool fresh, std::string& error);
    void giveBack(std::unique_ptr<PgConnection> connection);

    const std::string conninfo_;
    const std::size_t maxConnections_;

    mutable std::mutex lock_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<PgConnection>> idle_;
    std::size_t open_ = 0; // idle or in use
    bool schemaReady_ = false;
    SchemaCheck schema_;
    std::mutex schemaLock_;
};

} // namespace mub::collector
