#include "collector/database.h"

namespace mub::collector {

Database::Database(std::string conninfo, std::size_t maxConnections)
    : conninfo_(std::move(conninfo)), maxConnections_(maxConnections < 1 ? 1 : maxConnections) {}

DbStatus Database::take(Lease& lease, bool fresh, std::string& error) {
    {
        std::unique_lock<std::mutex> guard(lock_);
        returned_.wait(guard, [&] { return (!fresh && !idle_.empty()) || open_ < maxConnections_; });
        if (!fresh && !idle_.empty()) {
            lease.connection = std::move(idle_.back());
            idle_.pop_back();
            lease.fresh = false;
            return DbStatus::Done;
        }
        ++open_; // counted while it connects, so that the bound holds
    }
    const auto dropped = [&](DbStatus status) {
        lease.connection.reset();
        std::lock_guard<std::mutex> guard(lock_);
        --open_;
        returned_.notify_one();
        return status;
    };
    lease.connection = PgConnection::open(conninfo_, error);
    lease.fresh = true;
    if (!lease.connection) return dropped(DbStatus::Unavailable);
    std::lock_guard<std::mutex> schemaGuard(schemaLock_);
    if (!schemaReady_) {
        SchemaCheck check;
        const DbStatus status = prepareSchema(*lease.connection, check, error);
        if (status != DbStatus::Done) return dropped(status);
        std::lock_guard<std::mutex> guard(lock_);
        schemaReady_ = true;
        schema_ = check;
    }
    return DbStatus::Done;
}

void Database::giveBack(std::unique_ptr<PgConnection> connection) {
    std::lock_guard<std::mutex> guard(lock_);
    // None, a broken one or one left inside a transaction: closed.
    if (connection && !connection->broken() && connection->idle())
        idle_.push_back(std::move(connection));
    else
        --open_;
    returned_.notify_one();
}

DbStatus Database::run(const Step& step, std::string& error) {
    Lease lease;
    DbStatus status = take(lease, false, error);
    if (status != DbStatus::Done) return status;
    status = step(*lease.connection, error);
    if (status == DbStatus::Unavailable && !lease.fresh) {
        // Most likely the database went away and came back since this
        // connection was last used: a new one tells.
        lease.connection.reset();
        giveBack(nullptr);
        if ((status = take(lease, true, error)) != DbStatus::Done) return status;
        status = step(*lease.connection, error);
    }
    giveBack(std::move(lease.connection));
    return status;
}

DbStatus Database::check(std::string& error) {
    // A connection that answers; a kept one that broke is replaced.
    return run([](PgConnection& connection, std::string& why) { return connection.run("SELECT 1", why); }, error);
}

SchemaCheck Database::schema() const {
    std::lock_guard<std::mutex> guard(lock_);
    return schema_;
}

} // namespace mub::collector
