// The collector against a real PostgreSQL server: what a station posts is
// stored once and reads back equal; what is refused leaves nothing behind;
// the database may go away and come back.
#include "collector/record_batch.h"
#include "collector/schema.h"
#include "tests/collector/collector_test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace mub::test {
namespace {

using namespace collector;
using Json = nlohmann::json;

class CollectorService : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(clusterReady());
        conninfo_ = freshDatabase();
        collector_ = std::make_unique<RunningCollector>(conninfo_);
    }

    // Posts and expects `status`; the answer's JSON.
    Json posted(const std::string& token, const std::string& body, int status) {
        const auto result = collector_->post(token, body);
        if (!result) {
            ADD_FAILURE() << "no answer: " << httplib::to_string(result.error());
            return {};
        }
        EXPECT_EQ(result->status, status) << result->body;
        EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
        return Json::parse(result->body, nullptr, false);
    }
    long long stored() { return rowCount(conninfo_, "upgrade_records"); }

    std::string conninfo_;
    std::unique_ptr<RunningCollector> collector_;
};

std::vector<LogRecord> samples(int count, int first = 0) {
    std::vector<LogRecord> records;
    for (int n = first; n < first + count; ++n) records.push_back(sampleRecord(n));
    return records;
}

TEST_F(CollectorService, StoresABatchOnceAndReadsItBackEqual) {
    std::vector<LogRecord> records = samples(300);
    // A verify line after its upgrade: the same id, another outcome.
    LogRecord verified = records[5];
    verified.outcome = "verified";
    verified.program = "mubtool verify";
    records.push_back(verified);

    const Json first = posted(tokenA, batchBody(records), 200);
    EXPECT_EQ(first, Json::parse(R"({"stored":301,"duplicates":0,"conflicts":[]})"));
    const Json again = posted(tokenA, batchBody(records), 200);
    EXPECT_EQ(again, Json::parse(R"({"stored":0,"duplicates":301,"conflicts":[]})"));

    const auto back = storedRecords(collector_->database());
    ASSERT_EQ(back.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(back[i].record, records[i]) << i;
        EXPECT_EQ(back[i].station, "station-a");
    }
}

TEST_F(CollectorService, AConflictKeepsTheStoredRecordStoresTheRestAndIsListed) {
    const LogRecord kept = sampleRecord(1);
    posted(tokenA, batchBody({kept}), 200);
    LogRecord other = kept;
    other.seconds += 1;
    // Twice in one batch: the first of the two counts.
    LogRecord twice = sampleRecord(2), twiceOther = twice;
    twiceOther.model = "other";
    const Json answer = posted(tokenB, batchBody({other, sampleRecord(3), kept, twice, twiceOther}), 200);
    EXPECT_EQ(answer["stored"], 2);
    EXPECT_EQ(answer["duplicates"], 1);
    EXPECT_EQ(answer["conflicts"], Json::parse(R"([{"record_id":")" + kept.recordId +
                                               R"(","outcome":"completed"},{"record_id":")" + twice.recordId +
                                               R"(","outcome":"completed"}])"));
    const auto back = storedRecords(collector_->database());
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0].record, kept);
    EXPECT_EQ(back[0].station, "station-a");
    EXPECT_EQ(back[1].record, sampleRecord(3));
    EXPECT_EQ(back[2].record, twice);
    EXPECT_EQ(back[2].station, "station-b");
}

TEST_F(CollectorService, RefusedBatchesStoreNothing) {
    const std::vector<LogRecord> good = samples(3);
    const Json unknown = posted("token-of-station-c", batchBody(good), 401);
    EXPECT_EQ(unknown["error"], "unknown token");
    EXPECT_EQ(collector_->post("", batchBody(good))->status, 401);

    const Json malformed = posted(tokenA, batchBody(good).substr(10), 400);
    EXPECT_EQ(malformed["error"].get<std::string>().rfind("the body is not JSON", 0), 0u) << malformed;

    Json missing = Json::parse(batchBody(good));
    missing["records"][2].erase("outcome");
    EXPECT_EQ(posted(tokenA, missing.dump(), 400)["error"], "record 3: no field outcome");

    const Json tooMany = posted(tokenA, batchBody(std::vector<LogRecord>(maxBatchRecords + 1, good[0])), 413);
    EXPECT_NE(tooMany["error"].get<std::string>().find("at most 1000 records"), std::string::npos);
    // Over the byte bound: refused before it is read.
    std::vector<LogRecord> large = samples(800);
    for (LogRecord& record : large) record.file = std::string(3000, 'x');
    ASSERT_GT(batchBody(large).size(), maxBatchBytes);
    EXPECT_NE(posted(tokenA, batchBody(large), 413)["error"].get<std::string>().find("2 MiB"), std::string::npos);

    EXPECT_EQ(stored(), 0);
}

TEST_F(CollectorService, AnswersUnavailableWhileTheDatabaseIsDownAndStoresOnceItIsBack) {
    posted(tokenA, batchBody(samples(2)), 200);
    ASSERT_TRUE(sharedCluster().stop(PostgresCluster::StopMode::Immediate)) << sharedCluster().error();
    EXPECT_EQ(posted(tokenA, batchBody(samples(2, 10)), 503)["error"], "database unavailable");
    EXPECT_EQ(collector_->get("/health")->status, 503);
    EXPECT_EQ(collector_->get("/")->status, 503);

    ASSERT_TRUE(sharedCluster().start()) << sharedCluster().error();
    EXPECT_EQ(collector_->get("/health")->status, 200);
    EXPECT_EQ(posted(tokenA, batchBody(samples(2, 10)), 200)["stored"], 2);
    // A fast stop ends the kept connections the other way: the server tells them.
    ASSERT_TRUE(sharedCluster().stop(PostgresCluster::StopMode::Fast)) << sharedCluster().error();
    ASSERT_TRUE(sharedCluster().start()) << sharedCluster().error();
    EXPECT_EQ(posted(tokenA, batchBody(samples(2, 20)), 200)["stored"], 2);
    EXPECT_EQ(stored(), 6);
}

TEST_F(CollectorService, ServesTheReportOfAPeriod) {
    posted(tokenA, batchBody(samples(3)), 200);
    // The samples' day in any time zone.
    const auto page = collector_->get("/report?from=2026-12-08&to=2026-12-09");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(page->body.find("station-a"), std::string::npos);
    EXPECT_EQ(collector_->get("/report?from=2026-12-10&to=2026-12-09")->status, 400);
    EXPECT_EQ(collector_->get("/report?from=2026-12-40")->status, 400);
    EXPECT_EQ(collector_->get("/report?from=2026-01-01&to=2026-12-31")->status, 400);
}

TEST(CollectorSchema, IsMadeInAnEmptyDatabaseAndLeftAsItIsAtTheNextStart) {
    ASSERT_TRUE(clusterReady());
    const std::string conninfo = freshDatabase();
    std::string error;
    {
        RunningCollector first(conninfo);
        ASSERT_EQ(first.database().check(error), DbStatus::Done) << error;
        EXPECT_EQ(first.database().schema().before, 0);
        EXPECT_EQ(first.database().schema().after, collectorSchemaVersion);
        EXPECT_EQ(first.post(tokenA, batchBody({sampleRecord(1)}))->status, 200);
    }
    {
        RunningCollector second(conninfo);
        ASSERT_EQ(second.database().check(error), DbStatus::Done) << error;
        EXPECT_EQ(second.database().schema().before, collectorSchemaVersion);
        EXPECT_EQ(rowCount(conninfo, "schema_version"), 1);
        EXPECT_EQ(rowCount(conninfo, "upgrade_records"), 1);
    }
    // Tables of a newer collector are not touched.
    {
        const auto connection = PgConnection::open(conninfo, error);
        ASSERT_TRUE(connection) << error;
        ASSERT_EQ(connection->run("INSERT INTO schema_version (version) VALUES (99)", error), DbStatus::Done) << error;
    }
    Database newer(conninfo, 1);
    EXPECT_EQ(newer.check(error), DbStatus::Failed);
    EXPECT_NE(error.find("version 99, newer than this collector's"), std::string::npos) << error;
}

} // namespace
} // namespace mub::test
