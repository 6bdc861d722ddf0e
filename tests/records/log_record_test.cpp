#include "records/log_record.h"
#include "upgrade/upgrade_log.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace mub {
namespace {

LocalTime someTime() {
    LocalTime time;
    time.fields.tm_year = 126;
    time.fields.tm_mon = 11;
    time.fields.tm_mday = 9;
    time.fields.tm_hour = 6;
    time.fields.tm_min = 5;
    time.fields.tm_sec = 4;
    time.utcOffsetSeconds = 8 * 3600;
    return time;
}

TEST(LogRecord, ALineTheLogWritesReadsBackFieldForField) {
    UpgradeLogEntry entry;
    entry.program = "mubtool station";
    entry.port = "/dev/ttyUSB0";
    entry.file = "C:\\固件\\a \"new\", one.mub";
    entry.fileMd5 = "00112233445566778899aabbccddeeff";
    entry.model = "QM-3000";
    entry.softwareBefore = "1.00";
    entry.softwareAfter = "=2.00"; // led by an apostrophe in the file
    entry.outcome = "completed";
    entry.exitCode = 3;
    entry.blocksDone = 1024;
    entry.blocksTotal = 1024;
    entry.rejectedBlocks = 2;
    entry.seconds = 12.5;
    std::string error;
    const auto columns = parseLogHeader("\xEF\xBB\xBF" + upgradeLogHeader(), error);
    ASSERT_TRUE(columns) << error;
    const auto record = parseLogLine(*columns, upgradeLogLine(entry, someTime(), "线体一"), error);
    ASSERT_TRUE(record) << error;
    EXPECT_EQ(record->time, "2026-12-09 06:05:04+08:00");
    EXPECT_EQ(record->computer, "线体一");
    EXPECT_EQ(record->file, entry.file);
    EXPECT_EQ(record->softwareAfter, "'=2.00");
    EXPECT_EQ(record->outcome, "completed");
    EXPECT_EQ(record->exitCode, 3);
    EXPECT_EQ(record->blocksDone, 1024);
    EXPECT_EQ(record->rejectedBlocks, 2);
    EXPECT_DOUBLE_EQ(record->seconds, 12.5);
    EXPECT_EQ(record->programVersion, entry.programVersion);
    EXPECT_EQ(record->recordId, entry.recordId);
}

TEST(LogRecord, AnOlderLogIsReadByItsHeaderAndItsLinesGetIdsFromTheirBytes) {
    const std::string log = "\xEF\xBB\xBF"
                            "time,computer,program,port,outcome,exit_code,seconds\r\n"
                            "\"2026-01-02 03:04:05+08:00\",\"PC\",\"upgrader\",\"COM3\",\"completed\",0,9.000\r\n"
                            "\"2026-01-02 03:05:05+08:00\",\"PC\",\"upgrader\",\"COM3\",\"completed\",x,9.000\r\n"
                            "\"2026-01-02 03:06:05+08:00\",\"PC\",\"upgrader\",\"COM3\",\"comple"; // being written
    std::string error;
    const auto read = readLogRecords(log, error);
    ASSERT_TRUE(read) << error;
    ASSERT_EQ(read->records.size(), 1u);
    EXPECT_EQ(read->records[0].port, "COM3");
    EXPECT_EQ(read->records[0].programVersion, "");
    EXPECT_EQ(read->records[0].recordId, derivedRecordId("\"2026-01-02 03:04:05+08:00\",\"PC\",\"upgrader\",\"COM3\","
                                                         "\"completed\",0,9.000"));
    EXPECT_EQ(read->records[0].recordId.size(), 32u);
    ASSERT_EQ(read->skipped.size(), 1u);
    EXPECT_EQ(read->skipped[0], "line 3: exit_code is not a whole number: x");

    EXPECT_FALSE(readLogRecords("name,age\r\nx,1\r\n", error));
    EXPECT_FALSE(csvFields("\"open,"));
}

TEST(LogRecord, JsonHasEveryColumnByName) {
    LogRecord record;
    record.time = "2026-12-09 06:05:04+08:00";
    record.model = "型号\"A\"";
    record.blocksDone = 7;
    record.seconds = 1.25;
    record.recordId = "ab";
    const auto json = nlohmann::json::parse(logRecordJson(record));
    EXPECT_EQ(json.size(), logRecordColumnCount);
    for (const char* column : logRecordColumns) EXPECT_TRUE(json.contains(column)) << column;
    EXPECT_EQ(json["model"], "型号\"A\"");
    EXPECT_EQ(json["blocks_done"], 7);
    EXPECT_EQ(json["seconds"], 1.25);
    EXPECT_EQ(json["record_id"], "ab");
}

} // namespace
} // namespace mub
