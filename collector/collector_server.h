// The collector's HTTP side (cpp-httplib, its pool of worker threads):
//   POST /records   a station's batch (Authorization: Bearer TOKEN), answered
//                   once its transaction has committed
//   GET /health     200 "ok", 503 while the database cannot be reached
//   GET /           the report of the shift day now on (at 03:00 the night
//                   shift of the day before is still on)
//   GET /report?from=YYYY-MM-DD&to=YYYY-MM-DD
// Answers of /records are JSON: {"stored":N,"duplicates":D,"conflicts":[...]}
// or {"error":"..."} with 400, 401, 413, 503.
#pragma once

#include "collector/collector_settings.h"
#include "collector/database.h"
#include "collector/station_tokens.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

namespace httplib {
class Server;
}

namespace mub::collector {

class CollectorServer {
public:
    // Worker threads: each holds one request (or a kept-alive connection)
    // at a time.
    static constexpr std::size_t workerThreads = 16;

    CollectorServer(const CollectorSettings& settings, const StationTokens& tokens, Database& database);
    ~CollectorServer();
    CollectorServer(const CollectorServer&) = delete;
    CollectorServer& operator=(const CollectorServer&) = delete;

    // Opens the listening socket (requests wait there until serve()); the
    // port taken is port(). False, with the reason, when it cannot.
    bool bind(const ListenAddress& address, std::string& error);
    int port() const { return port_; }

    // Serves until stop(); the requests under way are answered first.
    void serve();
    // From any thread, also before serve() started.
    void stop();

private:
    void addRoutes();

    const CollectorSettings& settings_;
    const StationTokens& tokens_;
    Database& database_;
    std::unique_ptr<httplib::Server> server_;
    int port_ = 0;
    std::atomic<bool> serving_{false}, stopping_{false};
};

} // namespace mub::collector
