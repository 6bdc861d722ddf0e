// The upgrade log: what a line says and how it is quoted, the file made
// with its byte-order mark and header, a log that cannot be written, and
// appends from several threads at once.
#include "upgrade/upgrade_log.h"

#include "platform/gbk_text.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

namespace mub::test {
namespace {

// Splits one CSV record (without its line end) into fields, undoing quotes.
std::vector<std::string> csvFields(const std::string& line) {
    std::vector<std::string> fields{""};
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// The file's lines after the byte-order mark, each checked to end in CR LF.
std::vector<std::string> lines(const std::string& text) {
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    std::vector<std::string> out;
    std::size_t at = 3;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "a line without its end: " << text.substr(at);
        if (end == std::string::npos) break;
        out.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

UpgradeLogEntry sampleEntry() {
    UpgradeLogEntry e;
    e.program = "mubtool station";
    e.port = "/dev/ttyUSB0";
    e.file = "/固件/a,\"b\".mub";
    e.fileMd5 = "0123456789abcdef0123456789abcdef";
    e.imageMd5 = "fedcba9876543210fedcba9876543210";
    e.model = gbk("型号Ｘ");
    e.hardware = "HW-1.0";
    e.softwareBefore = "1.00";
    e.softwareAfter = "1.01";
    e.outcome = "completed";
    e.blocksDone = e.blocksTotal = 40;
    e.timeouts = 1;
    e.rejectedBlocks = 2;
    e.seconds = 12.3456;
    return e;
}

TEST(UpgradeLogLine, FieldsInTheirColumnsQuotedAndTimedWithTheOffset) {
    LocalTime time;
    time.fields.tm_year = 2024 - 1900;
    time.fields.tm_mon = 4;
    time.fields.tm_mday = 1;
    time.fields.tm_hour = 14;
    time.fields.tm_min = 3;
    time.fields.tm_sec = 9;
    time.utcOffsetSeconds = 8 * 3600;
    UpgradeLogEntry entry = sampleEntry();
    entry.recordId = "00112233445566778899aabbccddeeff";
    const std::string line = upgradeLogLine(entry, time, "LINE-7");
    ASSERT_EQ(line.substr(line.size() - 2), "\r\n");
    const auto fields = csvFields(line.substr(0, line.size() - 2));
    const auto header = csvFields(upgradeLogHeader().substr(0, upgradeLogHeader().size() - 2));
    EXPECT_EQ(fields.size(), header.size());
    EXPECT_EQ(fields, (std::vector<std::string>{"2024-05-01 14:03:09+08:00", "LINE-7", "mubtool station",
                                                 "/dev/ttyUSB0", "/固件/a,\"b\".mub",
                                                 "0123456789abcdef0123456789abcdef",
                                                 "fedcba9876543210fedcba9876543210", "型号Ｘ", "HW-1.0", "1.00",
                                                 "1.01", "completed", "0", "40", "40", "1", "2", "12.346",
                                                 programVersion(), "00112233445566778899aabbccddeeff"}));

    time.utcOffsetSeconds = -(3 * 3600 + 30 * 60);
    EXPECT_EQ(csvFields(upgradeLogLine(sampleEntry(), time, ""))[0], "2024-05-01 14:03:09-03:30");
}

TEST(UpgradeLogLine, TextsFromOutsideStayOneHarmlessField) {
    // A line break from the machine would split the record; a leading = would
    // be a formula in a spreadsheet. Numbers with a sign stay numbers.
    EXPECT_EQ(csvField("a\r\nb"), "\"a\\x0d\\x0ab\"");
    EXPECT_EQ(csvField("=HYPERLINK(\"x\")"), "\"'=HYPERLINK(\"\"x\"\")\"");
    EXPECT_EQ(csvField("@SUM(A1)"), "\"'@SUM(A1)\"");
    EXPECT_EQ(csvField("-1.5"), "\"-1.5\"");
    EXPECT_EQ(csvField("+cmd"), "\"'+cmd\"");
    EXPECT_EQ(csvField(""), "\"\"");
}

TEST(UpgradeLogFile, MadeWithMarkAndHeaderOnceThenOneLinePerAppend) {
    TempFolder folder;
    UpgradeLog log(upgradeLogPathIn(folder.root()));
    for (int i = 0; i < 3; ++i) {
        UpgradeLogEntry e = sampleEntry();
        e.blocksDone = static_cast<std::uint32_t>(i);
        const auto result = log.append(e);
        EXPECT_TRUE(result.written);
        EXPECT_FALSE(result.firstFailure);
    }
    const auto got = lines(folder.read(upgradeLogFileName));
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0] + "\r\n", upgradeLogHeader());
    std::set<std::string> ids;
    for (int i = 0; i < 3; ++i) {
        const auto fields = csvFields(got[i + 1]);
        EXPECT_EQ(fields[13], std::to_string(i));
        // A record id of its own: 32 lowercase hex digits.
        EXPECT_EQ(fields[19].find_first_not_of("0123456789abcdef"), std::string::npos) << fields[19];
        EXPECT_EQ(fields[19].size(), 32u);
        ids.insert(fields[19]);
    }
    EXPECT_EQ(ids.size(), 3u);

    // A line cut short (a power loss) is left alone; the next one starts on
    // a line of its own.
    std::filesystem::resize_file(folder.path(upgradeLogFileName),
                                 std::filesystem::file_size(folder.path(upgradeLogFileName)) - 5);
    EXPECT_TRUE(log.append(sampleEntry()).written);
    const std::string text = folder.read(upgradeLogFileName);
    EXPECT_EQ(csvFields(text.substr(text.rfind("\n", text.size() - 3) + 1, std::string::npos)).size(), 20u);
}

TEST(UpgradeLogFile, ALogThatCannotBeWrittenIsToldOnceAndItsLinesComeLater) {
    TempFolder folder;
    folder.write("blocked", "a file where the log's folder should be");
    UpgradeLog log(upgradeLogPathIn(folder.path("blocked")));
    const auto first = log.append(sampleEntry());
    EXPECT_FALSE(first.written);
    ASSERT_TRUE(first.firstFailure);
    EXPECT_FALSE(first.firstFailure->empty());
    const auto second = log.append(sampleEntry());
    EXPECT_FALSE(second.written);
    EXPECT_FALSE(second.firstFailure) << "told twice";
    EXPECT_EQ(log.pendingLines(), 2u);

    std::filesystem::remove(folder.path("blocked"));
    folder.makeFolder("blocked");
    const auto third = log.append(sampleEntry());
    EXPECT_TRUE(third.written);
    EXPECT_FALSE(third.firstFailure);
    EXPECT_EQ(log.pendingLines(), 0u);
    EXPECT_EQ(lines(folder.read("blocked/" + std::string(upgradeLogFileName))).size(), 4u);
}

TEST(UpgradeLogFile, LinesOfManyWritersAtOnceNeverInterleave) {
    // Two logs on the same file (two programs) and several threads each.
    TempFolder folder;
    UpgradeLog first(upgradeLogPathIn(folder.root())), second(upgradeLogPathIn(folder.root()));
    constexpr int threads = 4, perThread = 40;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([&, t] {
            UpgradeLog& log = t % 2 ? second : first;
            UpgradeLogEntry e = sampleEntry();
            e.port = "port" + std::to_string(t) + std::string(static_cast<std::size_t>(200 * t), 'x');
            for (int i = 0; i < perThread; ++i) {
                e.blocksDone = static_cast<std::uint32_t>(i);
                EXPECT_TRUE(log.append(e).written);
            }
        });
    }
    for (auto& w : writers) w.join();
    const auto got = lines(folder.read(upgradeLogFileName));
    ASSERT_EQ(got.size(), 1u + threads * perThread);
    std::set<std::string> seen;
    for (std::size_t i = 1; i < got.size(); ++i) {
        const auto fields = csvFields(got[i]);
        ASSERT_EQ(fields.size(), 20u) << got[i];
        seen.insert(fields[3] + "/" + fields[13]);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(threads * perThread));
}

} // namespace
} // namespace mub::test
