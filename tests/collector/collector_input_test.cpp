// What the collector takes before anything reaches its database: its
// command line, the tokens file, a station's batch; the days of a report.
#include "collector/collector_settings.h"
#include "collector/record_batch.h"
#include "collector/report_page.h"
#include "collector/station_tokens.h"
#include "platform/local_zone.h"
#include "tests/collector/collector_test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace mub::collector {
namespace {

std::optional<CollectorSettings> parsed(const std::vector<std::string>& args, std::string& error) {
    bool help = false;
    return parseCollectorArgs(args, help, error);
}

TEST(CollectorSettings, ReadsEveryOptionAndNamesEachBadValue) {
    std::string error;
    const auto settings = parsed({"--db", "dbname=mub", "--listen=[::1]:0", "--tokens", "t.txt", "--shifts", "07:30,19:30"}, error);
    ASSERT_TRUE(settings) << error;
    EXPECT_EQ(settings->listen.host, "::1");
    EXPECT_EQ(settings->listen.port, 0);
    EXPECT_EQ(settings->shifts.starts, (std::vector<int>{7 * 60 + 30, 19 * 60 + 30}));
    EXPECT_EQ(listenUrl("::1", 8080), "http://[::1]:8080");

    const std::pair<std::vector<std::string>, std::string> bad[] = {
        {{"--listen", "0.0.0.0:80", "--tokens", "t"}, "--db CONNINFO is required"},
        {{"--db", "x", "--listen", "0.0.0.0:65536", "--tokens", "t"}, "port must be a number from 0 to 65535"},
        {{"--db", "x", "--listen", "8080", "--tokens", "t"}, "needs HOST:PORT"},
        {{"--db", "x", "--listen", "::1:80", "--tokens", "t"}, "in brackets"},
        {{"--db", "x", "--listen", ":80", "--tokens", "t"}, "needs a host"},
        {{"--db", "x", "--listen", "h:1", "--tokens", "t", "--shifts", "14:00,06:00"}, "--shifts: shift starts must ascend"},
        {{"--db", "x", "--listen", "h:1", "--tokens", "t", "--shifts", "24:00"}, "--shifts: '24:00' is no time HH:MM"},
        {{"--db", "x", "--listen", "h:1", "--tokens"}, "--tokens needs a value"},
        {{"--db", "x", "--listen", "h:1", "--tokens", "t", "--port", "1"}, "unknown option --port"},
    };
    for (const auto& [args, reason] : bad) {
        error.clear();
        EXPECT_FALSE(parsed(args, error)) << args.back();
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

TEST(StationTokens, NamesTheStationOfEachTokenAndRefusesBadFiles) {
    std::string error;
    const auto tokens = StationTokens::parse("# line 1\n\nabc123 Line 1 station\r\n  zz9  L2\n", error);
    ASSERT_TRUE(tokens) << error;
    EXPECT_EQ(tokens->stationOf("abc123"), "Line 1 station");
    EXPECT_EQ(tokens->stationOf("zz9"), "L2");
    EXPECT_FALSE(tokens->stationOf("abc12"));
    EXPECT_FALSE(tokens->stationOf("abc1234"));
    EXPECT_FALSE(tokens->stationOf(""));

    EXPECT_FALSE(StationTokens::parse("a s1\nsecret-token\n", error));
    EXPECT_EQ(error, "line 2: a token needs its station's name after it (TOKEN STATION-NAME)");
    EXPECT_FALSE(StationTokens::parse("same s1\nsame s2\n", error));
    EXPECT_NE(error.find("line 2"), std::string::npos);
    EXPECT_EQ(error.find("same "), std::string::npos) << "a token in a message: " << error;
    EXPECT_FALSE(StationTokens::parse("# nothing\n", error));

    EXPECT_EQ(bearerToken("Bearer abc"), "abc");
    EXPECT_EQ(bearerToken("bearer  abc "), "abc");
    EXPECT_EQ(bearerToken("Basic abc"), "");
    EXPECT_EQ(bearerToken("Bearerabc"), "");
}

TEST(RecordBatch, TakesTheSendersRecordsAsTheyAre) {
    const std::vector<LogRecord> records{test::sampleRecord(1), test::sampleRecord(2)};
    const BatchRead read = readRecordBatch(test::batchBody(records));
    ASSERT_EQ(read.verdict, BatchRead::Verdict::Taken) << read.error;
    EXPECT_EQ(read.records, records);
}

TEST(RecordBatch, RefusesTheWholeBatchNamingTheRecordAndField) {
    const auto withRecord = [](const std::function<void(nlohmann::json&)>& change) {
        nlohmann::json body = nlohmann::json::parse(test::batchBody({test::sampleRecord(1), test::sampleRecord(2)}));
        change(body["records"][1]);
        return readRecordBatch(body.dump());
    };
    const std::pair<std::function<void(nlohmann::json&)>, std::string> faults[] = {
        {[](nlohmann::json& r) { r.erase("seconds"); }, "record 2: no field seconds"},
        {[](nlohmann::json& r) { r["exit_code"] = "0"; }, "record 2: exit_code is not a whole number"},
        {[](nlohmann::json& r) { r["blocks_done"] = 1.5; }, "record 2: blocks_done is not a whole number"},
        {[](nlohmann::json& r) { r["model"] = 7; }, "record 2: model is not a string"},
        {[](nlohmann::json& r) { r["record_id"] = ""; }, "record 2: record_id is empty"},
        {[](nlohmann::json& r) { r["time"] = "09.12.2026 06:13"; }, "record 2: time is not a time"},
        {[](nlohmann::json& r) { r["port"] = std::string("CO\0M1", 5); }, "record 2: port holds a NUL"},
        {[](nlohmann::json& r) { r = nlohmann::json::array(); }, "record 2: is not an object"},
    };
    for (const auto& [change, reason] : faults) {
        const BatchRead read = withRecord(change);
        EXPECT_EQ(read.verdict, BatchRead::Verdict::Malformed) << reason;
        EXPECT_EQ(read.error.rfind(reason, 0), 0u) << read.error;
        EXPECT_TRUE(read.records.empty());
    }
    EXPECT_EQ(readRecordBatch("{\"records\":[").verdict, BatchRead::Verdict::Malformed);
    EXPECT_EQ(readRecordBatch("[]").error, "the body is not a JSON object");
    EXPECT_EQ(readRecordBatch("{\"record\":[]}").error, "no field records");

    const std::vector<LogRecord> many(maxBatchRecords + 1, test::sampleRecord(1));
    EXPECT_EQ(readRecordBatch(test::batchBody(many)).verdict, BatchRead::Verdict::TooBig);
}

TEST(ReportPeriod, TakesUpToAMonthOfDaysWithTheirNightShifts) {
    std::string error;
    const auto day = parseReportPeriod("2026-12-09", "", error);
    ASSERT_TRUE(day) << error;
    EXPECT_EQ(day->first, day->last);
    EXPECT_TRUE(parseReportPeriod("2026-12-01", "2026-12-31", error)) << error;
    EXPECT_FALSE(parseReportPeriod("2026-12-01", "2027-01-01", error));
    EXPECT_EQ(error, "a report spans at most 31 days");
    EXPECT_FALSE(parseReportPeriod("2026-12-09", "2026-12-08", error));
    EXPECT_FALSE(parseReportPeriod("2026-12-32", "", error));

    // From the first day's first shift to the last day's night shift's end.
    const ShiftTimes shifts{{6 * 60, 14 * 60, 22 * 60}};
    const ReportWindow window = reportWindow(shifts, *parseReportPeriod("2026-12-08", "2026-12-09", error));
    EXPECT_EQ(window.begin, momentOfLocalTime(2026, 12, 8, 6, 0));
    EXPECT_EQ(window.end, momentOfLocalTime(2026, 12, 10, 6, 0));
}

} // namespace
} // namespace mub::collector
