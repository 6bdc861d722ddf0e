#include "tests/collector/collector_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

namespace mub::test {

using namespace collector;

PostgresCluster& sharedCluster() {
    static PostgresCluster cluster;
    return cluster;
}

::testing::AssertionResult clusterReady() {
    PostgresCluster& cluster = sharedCluster();
    if (cluster.ok() && (cluster.running() || cluster.start())) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no PostgreSQL server for the test: " << cluster.error();
}

std::string freshDatabase() {
    static std::atomic<int> made{0};
    const std::string name = "test_" + std::to_string(++made);
    EXPECT_TRUE(sharedCluster().createDatabase(name)) << sharedCluster().error();
    return sharedCluster().conninfo(name);
}

namespace {
StationTokens testTokens() {
    std::string error;
    auto tokens = StationTokens::parse(std::string(tokenA) + " station-a\n" + tokenB + " station-b\n", error);
    EXPECT_TRUE(tokens) << error;
    return *tokens;
}
} // namespace

RunningCollector::RunningCollector(const std::string& conninfo)
    : tokens_(testTokens()), database_(conninfo, 4), server_(settings_, tokens_, database_),
      client_("127.0.0.1", bindFreePort()) {
    settings_.conninfo = conninfo;
    // As the program does: the schema made before the first request.
    std::string error;
    EXPECT_EQ(database_.check(error), DbStatus::Done) << error;
    serving_ = std::thread([this] { server_.serve(); });
    client_.set_read_timeout(30);
}

int RunningCollector::bindFreePort() {
    std::string error;
    EXPECT_TRUE(server_.bind({"127.0.0.1", 0}, error)) << error;
    return server_.port();
}

RunningCollector::~RunningCollector() {
    server_.stop();
    serving_.join();
}

httplib::Result RunningCollector::post(const std::string& token, const std::string& body) {
    return client_.Post("/records", {{"Authorization", "Bearer " + token}}, body, "application/json");
}

httplib::Result RunningCollector::get(const std::string& path) { return client_.Get(path.c_str()); }

LogRecord sampleRecord(int n, const std::string& time) {
    LogRecord r;
    r.time = time;
    r.computer = "LINE1-PC";
    r.program = "mubtool station";
    r.port = "COM" + std::to_string(n % 8 + 1);
    r.file = "/srv/fw/\xe5\x8d\x87\xe7\xba\xa7 \"v2\".mub"; // 升级, quotes: texts go through as they are
    r.fileMd5 = "0123456789abcdef0123456789abcdef";
    r.imageMd5 = "fedcba9876543210fedcba9876543210";
    r.model = "CM-" + std::to_string(n);
    r.hardware = "H2";
    r.softwareBefore = "1.0";
    r.softwareAfter = "1.1";
    r.outcome = "completed";
    r.exitCode = 0;
    r.blocksDone = r.blocksTotal = 900 + n;
    r.timeouts = n % 3;
    r.rejectedBlocks = n % 2;
    r.seconds = 40.125 + n;
    r.programVersion = "1.0.0+abc";
    char id[33];
    std::snprintf(id, sizeof id, "%032x", 0xabc000 + n);
    r.recordId = id;
    return r;
}

std::string batchBody(const std::vector<LogRecord>& records) {
    std::string body = "{\"records\":[";
    for (std::size_t i = 0; i < records.size(); ++i) body += (i ? "," : "") + logRecordJson(records[i]);
    return body + "]}";
}

std::vector<StationRecord> storedRecords(Database& database) {
    std::vector<StationRecord> records;
    std::string error;
    const DbStatus status = database.run(
        [&](PgConnection& connection, std::string& why) {
            return recordsBetween(connection, 0, 4102444800, records, why); // until 2100
        },
        error);
    EXPECT_EQ(status, DbStatus::Done) << error;
    return records;
}

long long rowCount(const std::string& conninfo, const std::string& table) {
    std::string error;
    const auto connection = PgConnection::open(conninfo, error);
    if (!connection) {
        ADD_FAILURE() << error;
        return -1;
    }
    DbStatus status = DbStatus::Done;
    const PgResult result = connection->run("SELECT count(*) FROM " + table, {}, status, error);
    if (!result) {
        ADD_FAILURE() << error;
        return -1;
    }
    return std::atoll(PQgetvalue(result.get(), 0, 0));
}

} // namespace mub::test
