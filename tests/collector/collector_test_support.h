// What the collector's tests share: one PostgreSQL server for the whole
// program with a new database per test, the collector itself on a free
// port of this computer, sample records and the batches a station sends.
#pragma once

#include "collector/collector_server.h"
#include "collector/database.h"
#include "collector/record_store.h"
#include "records/log_record.h"
#include "tests/support/postgres_cluster.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <string>
#include <thread>
#include <vector>

namespace mub::test {

// Made at the first call; tests that use it begin with
// ASSERT_TRUE(clusterReady()): made and running (started again when a test
// before left it stopped), else the reason.
PostgresCluster& sharedCluster();
::testing::AssertionResult clusterReady();
// A new empty database in the shared cluster: its connection string.
std::string freshDatabase();

// The tokens every collector of these tests knows.
inline constexpr const char* tokenA = "token-of-station-a-0123456789";
inline constexpr const char* tokenB = "token-of-station-b-9876543210";

// The collector in this process, serving on 127.0.0.1 until it goes.
class RunningCollector {
public:
    explicit RunningCollector(const std::string& conninfo);
    ~RunningCollector();

    httplib::Result post(const std::string& token, const std::string& body);
    httplib::Result get(const std::string& path);
    int port() const { return server_.port(); }
    collector::Database& database() { return database_; }

private:
    int bindFreePort();

    collector::CollectorSettings settings_;
    collector::StationTokens tokens_;
    collector::Database database_;
    collector::CollectorServer server_;
    std::thread serving_;
    httplib::Client client_;
};

// A completed upgrade of machine `n` at `time`, every field filled.
LogRecord sampleRecord(int n, const std::string& time = "2026-12-09 06:13:18+08:00");
// {"records":[...]} as the stations send it.
std::string batchBody(const std::vector<LogRecord>& records);

// Everything the database holds, in the order of time and arrival.
std::vector<StationRecord> storedRecords(collector::Database& database);
// SELECT count(*) FROM `table`.
long long rowCount(const std::string& conninfo, const std::string& table);

} // namespace mub::test
