#include "records/shift_report.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace mub {
namespace {

// The report's local zone is the process's: UTC+8 without daylight saving
// (a POSIX rule, no zone database needed) for these tests.
class ShiftReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) saved_ = tz;
        ::setenv("TZ", "CST-8", 1);
        ::tzset();
    }
    void TearDown() override {
        if (saved_) ::setenv("TZ", saved_->c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }

    static StationRecord line(const std::string& station, const std::string& time, const std::string& id,
                              const std::string& outcome = "completed", int exitCode = 0, double seconds = 40) {
        StationRecord r;
        r.station = station;
        r.record.time = time;
        r.record.computer = station;
        r.record.program = "mubtool station";
        r.record.file = "D:/fw/a.mub";
        r.record.outcome = outcome;
        r.record.exitCode = exitCode;
        r.record.blocksDone = exitCode == 0 ? 1024 : 0;
        r.record.blocksTotal = 1024;
        r.record.seconds = seconds;
        r.record.recordId = id;
        return r;
    }

    static ShiftTimes threeShifts() {
        std::string error;
        return *parseShiftTimes(defaultShiftList, error);
    }
    static Period days(const char* first, const char* last) {
        return {*parseCalendarDay(first), *parseCalendarDay(last)};
    }

    std::optional<std::string> saved_;
};

TEST_F(ShiftReportTest, AMachineCountsByItsLatestLineAndModelChecksAreNone) {
    std::vector<StationRecord> records = {
        line("A", "2026-12-09 06:10:00+08:00", "m1"),
        line("A", "2026-12-09 06:10:30+08:00", "m2"),
        line("A", "2026-12-09 06:11:00+08:00", "m1", "verify-mismatch", 11),
        line("A", "2026-12-09 06:11:30+08:00", "m2", "verified", 0, 55),
        // The same second: the later line in the log is the latest.
        line("A", "2026-12-09 06:12:00+08:00", "m3"),
        line("A", "2026-12-09 06:12:00+08:00", "m3", "unverified", 0),
        line("A", "2026-12-09 06:13:00+08:00", "m4", "link-lost", 6),
        line("A", "2026-12-09 06:14:00+08:00", "d1", "identified", 0),
    };
    records.back().record.program = "mubtool detect";
    records.back().record.file.clear();
    // The window's model check that found no machine: no file either.
    records.push_back(line("A", "2026-12-09 06:15:00+08:00", "d2", "not-connected", 6));
    records.back().record.program = "upgrader";
    records.back().record.file.clear();

    const ShiftReport report = buildShiftReport(records, threeShifts(), days("2026-12-09", "2026-12-09"));
    EXPECT_EQ(report.modelChecks, 2);
    ASSERT_EQ(report.shifts.size(), 1u);
    const StationTally& total = report.shifts[0].total;
    EXPECT_EQ(total.machines.passed, 2);
    EXPECT_EQ(total.machines.failed, 2);
    EXPECT_DOUBLE_EQ(total.yield(), 0.5);
    ASSERT_EQ(total.failures.size(), 2u);
    EXPECT_EQ(total.failures[0].outcome, "link-lost");
    EXPECT_EQ(total.failures[1].outcome, "verify-mismatch");
    // The transfer's time is the upgrade line's, not the check's after it.
    long long transfers = 0;
    for (const PassFail& bucket : total.transfer) transfers += bucket.machines();
    EXPECT_EQ(transfers, 3); // m4 sent no block
    EXPECT_EQ(report.buckets.count, 1);
    EXPECT_DOUBLE_EQ(report.buckets.first, 40);
}

TEST_F(ShiftReportTest, ANightShiftAcrossMidnightBelongsToTheDayItStarted) {
    const std::vector<StationRecord> records = {
        line("A", "2026-12-09 05:59:59+08:00", "before"), // the night shift of the 8th
        line("A", "2026-12-09 22:00:00+08:00", "first"),
        line("A", "2026-12-09 23:30:00+08:00", "late"),
        line("A", "2026-12-10 05:59:59+08:00", "last"),
        line("A", "2026-12-10 06:00:00+08:00", "next"), // the early shift of the 10th
    };
    const ShiftReport report = buildShiftReport(records, threeShifts(), days("2026-12-09", "2026-12-09"));
    EXPECT_EQ(report.outside, 2);
    ASSERT_EQ(report.shifts.size(), 1u);
    const ShiftTally& night = report.shifts[0];
    EXPECT_EQ(night.shift.day, *parseCalendarDay("2026-12-09"));
    EXPECT_EQ(night.shift.index, 2);
    EXPECT_EQ(night.shift.end - night.shift.start, 8 * 3600);
    ASSERT_EQ(night.total.hours.size(), 8u);
    EXPECT_EQ(night.total.hours[0].passed, 1);
    EXPECT_EQ(night.total.hours[1].passed, 1);
    EXPECT_EQ(night.total.hours[7].passed, 1);
    EXPECT_EQ(night.total.machines.machines(), 3);
}

TEST_F(ShiftReportTest, RecordsInOtherOffsetsFallIntoTheLocalShifts) {
    const std::vector<StationRecord> records = {
        line("UTC-PC", "2026-12-08 22:30:00+00:00", "a"), // 06:30 here: the early shift
        line("UTC-PC", "2026-12-09T06:10:00Z", "b"),      // 14:10: the middle one
        line("NY-PC", "2026-12-09 01:00:00-0500", "c"),   // 14:00 sharp: the middle one
        line("NY-PC", "2026-12-09 08:59:59-05:00", "d"),  // 21:59:59: still the middle one
    };
    const ShiftReport report = buildShiftReport(records, threeShifts(), days("2026-12-09", "2026-12-09"));
    ASSERT_EQ(report.shifts.size(), 2u);
    EXPECT_EQ(report.shifts[0].shift.index, 0);
    EXPECT_EQ(report.shifts[0].total.hours[0].passed, 1);
    EXPECT_EQ(report.shifts[1].shift.index, 1);
    const StationTally& middle = report.shifts[1].total;
    EXPECT_EQ(middle.hours[0].passed, 2);
    EXPECT_EQ(middle.hours[7].passed, 1);
    ASSERT_EQ(report.shifts[1].stations.size(), 2u);
    EXPECT_EQ(report.shifts[1].stations[0].station, "NY-PC");
    EXPECT_EQ(report.shifts[1].stations[0].machines.passed, 2);
    EXPECT_EQ(report.shifts[1].stations[1].machines.passed, 1);
}

TEST_F(ShiftReportTest, MachinesPerHourPerStationOverTheShift) {
    const std::vector<StationRecord> records = {
        line("A", "2026-12-09 14:00:00+08:00", "1"), line("A", "2026-12-09 14:59:59+08:00", "2", "stopped", 9),
        line("B", "2026-12-09 15:00:00+08:00", "3"), line("B", "2026-12-09 21:59:00+08:00", "4"),
        line("A", "2026-12-09 21:30:00+08:00", "5", "model-mismatch", 5),
    };
    const ShiftReport report = buildShiftReport(records, threeShifts(), days("2026-12-09", "2026-12-09"));
    ASSERT_EQ(report.shifts.size(), 1u);
    const ShiftTally& shift = report.shifts[0];
    ASSERT_EQ(shift.stations.size(), 2u);
    const StationTally& a = shift.stations[0];
    EXPECT_EQ(a.station, "A");
    ASSERT_EQ(a.hours.size(), 8u);
    EXPECT_EQ(a.hours[0].passed, 1);
    EXPECT_EQ(a.hours[0].failed, 1);
    EXPECT_EQ(a.hours[7].failed, 1);
    EXPECT_EQ(shift.stations[1].hours[1].passed, 1);
    EXPECT_EQ(shift.stations[1].hours[7].passed, 1);
    EXPECT_EQ(shift.total.hours[7].machines(), 2);
    // The period's rows by station.
    ASSERT_EQ(report.stations.size(), 2u);
    EXPECT_EQ(report.stations[0].machines.failed, 2);
    EXPECT_TRUE(report.stations[0].hours.empty());
}

TEST_F(ShiftReportTest, TransferTimesGoIntoRoundBucketsWithAnOpenOneForTheSlowest) {
    std::vector<StationRecord> records;
    int id = 0;
    const auto add = [&](double seconds, int exitCode = 0) {
        records.push_back(line("A", "2026-12-09 07:00:00+08:00", std::to_string(++id),
                               exitCode ? "checksum-failed" : "completed", exitCode, seconds));
        records.back().record.blocksDone = 1024; // the machine refused the image after its last block
    };
    for (const double s : {10.0, 11.0, 12.0, 19.0}) add(s);
    add(25, 7);
    // A transfer that broke off tells no transfer's time.
    records.push_back(line("A", "2026-12-09 07:00:00+08:00", "broke", "link-lost", 6, 3));
    records.back().record.blocksDone = 100;
    ShiftReport report = buildShiftReport(records, threeShifts(), days("2026-12-09", "2026-12-09"));
    // 15 s over at most 20 bars: 1 s wide, from 10 s.
    EXPECT_DOUBLE_EQ(report.buckets.first, 10);
    EXPECT_DOUBLE_EQ(report.buckets.width, 1);
    EXPECT_EQ(report.buckets.count, 16);
    EXPECT_FALSE(report.buckets.openBelow || report.buckets.openAbove);
    const auto& transfer = report.shifts.at(0).total.transfer;
    ASSERT_EQ(transfer.size(), 16u);
    EXPECT_EQ(transfer[0].passed, 1);
    EXPECT_EQ(transfer[2].passed, 1);
    EXPECT_EQ(transfer[9].passed, 1);
    EXPECT_EQ(transfer[15].failed, 1);
    long long counted = 0;
    for (const PassFail& bucket : transfer) counted += bucket.machines();
    EXPECT_EQ(counted, 5);

    // One transfer that hung among a hundred: the range stays the others'.
    records.clear();
    for (int k = 0; k < 99; ++k) add(38 + 4.0 * k / 98);
    add(600);
    report = buildShiftReport(records, threeShifts(), days("2026-12-09", "2026-12-09"));
    EXPECT_DOUBLE_EQ(report.buckets.first, 38);
    EXPECT_DOUBLE_EQ(report.buckets.width, 0.2);
    EXPECT_TRUE(report.buckets.openAbove);
    EXPECT_FALSE(report.buckets.openBelow);
    ASSERT_EQ(report.buckets.count, 22);
    EXPECT_EQ(report.buckets.bucketOf(41.9), 19);
    EXPECT_EQ(report.buckets.bucketOf(42), 20);
    EXPECT_EQ(report.shifts.at(0).total.transfer[21].machines(), 1);

    // And one that was over at once: an open bar below.
    records.clear();
    for (int k = 0; k < 99; ++k) add(38 + 4.0 * k / 98);
    add(0.5);
    report = buildShiftReport(records, threeShifts(), days("2026-12-09", "2026-12-09"));
    EXPECT_TRUE(report.buckets.openBelow);
    EXPECT_FALSE(report.buckets.openAbove);
    EXPECT_DOUBLE_EQ(report.buckets.edge(1), 38);
    EXPECT_EQ(report.shifts.at(0).total.transfer[0].machines(), 1);
    EXPECT_EQ(report.shifts.at(0).total.transfer[1].machines(), 5);
}

TEST(ShiftTimesTest, AListIsReadOrRefusedWithItsReason) {
    std::string error;
    const auto shifts = parseShiftTimes("6:30,14:00,22:15", error);
    ASSERT_TRUE(shifts) << error;
    EXPECT_EQ(shifts->starts, (std::vector<int>{390, 840, 1335}));
    EXPECT_EQ(shiftTimesText(*shifts), "06:30,14:00,22:15");
    const struct {
        const char* list;
        const char* reason; // part of the error
    } bad[] = {
        {"", "empty"},          {"06:00,", "empty"},    {"25:00", "'25:00' is no time"}, {"06:60", "'06:60'"},
        {"0600", "'0600'"},     {"06:0a", "'06:0a'"},   {"14:00,06:00", "ascend"},       {"06:00,06:00", "ascend"},
        {"06:00;14:00", "'06:00;14:00'"},
    };
    for (const auto& row : bad) {
        SCOPED_TRACE(row.list);
        error.clear();
        EXPECT_FALSE(parseShiftTimes(row.list, error));
        EXPECT_NE(error.find(row.reason), std::string::npos) << error;
    }
}

TEST_F(ShiftReportTest, ThePageTellsAnEmptyPeriodAndEscapesWhatTheLogsSay) {
    ReportTitle title;
    title.source = "upgrades.csv";
    const std::string empty = shiftReportHtml({}, threeShifts(), days("2026-12-09", "2026-12-10"), title);
    EXPECT_NE(empty.find("2026-12-09 至 2026-12-10 没有升级记录"), std::string::npos);

    std::vector<StationRecord> records = {line("<b>PC</b>", "2026-12-09 07:00:00+08:00", "1", "checksum-failed", 7)};
    const std::string page = shiftReportHtml(records, threeShifts(), days("2026-12-09", "2026-12-09"), title);
    EXPECT_EQ(page.find("<b>PC"), std::string::npos);
    EXPECT_NE(page.find("&lt;b&gt;PC&lt;/b&gt;"), std::string::npos);
    EXPECT_NE(page.find("机器报告校验错误"), std::string::npos); // the station window's words for it
    EXPECT_NE(page.find("<svg"), std::string::npos);
    for (const char* outside : {"<script", "src=", "http://", "https://", "@import", "url("})
        EXPECT_EQ(page.find(outside), std::string::npos) << outside;
}

} // namespace
} // namespace mub
