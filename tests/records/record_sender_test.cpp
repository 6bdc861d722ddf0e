// The records sender against a fake collector on 127.0.0.1: what moves the
// mark beside the log, what waits, and that no stretch goes out twice.
#include "records/log_sender.h"
#include "records/record_sender.h"
#include "records/sent_mark.h"
#include "tests/support/fake_collector.h"
#include "tests/support/temp_folder.h"
#include "upgrade/upgrade_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

namespace mub {
namespace {

using namespace std::chrono_literals;
using test::FakeCollector;

class RecordSending : public ::testing::Test {
protected:
    test::TempFolder folder;
    FakeCollector collector;
    std::string logPath = folder.path("upgrades.csv");
    UpgradeLog log{logPath};
    HttpPoster poster;
    std::vector<std::string> told;

    // Lines as the front ends write them; their record ids.
    std::vector<std::string> append(int lines, const std::string& outcome = "completed") {
        std::vector<std::string> ids;
        for (int i = 0; i < lines; ++i) {
            UpgradeLogEntry entry;
            entry.program = "mubtool station";
            entry.port = "COM" + std::to_string(i % 4 + 1);
            entry.outcome = outcome;
            entry.seconds = 10 + i;
            EXPECT_TRUE(log.append(entry).written);
            ids.push_back(entry.recordId);
        }
        return ids;
    }
    CollectorTarget target() const { return {collector.address(), "line3-token"}; }
    SendOptions options(std::size_t batch = 500) {
        SendOptions o;
        o.batchRecords = batch;
        o.requestBound = 5s;
        o.tell = [this](const std::string& line) { told.push_back(line); };
        return o;
    }
    SendReport sendNow(std::size_t batch = 500) { return sendWaitingRecords(logPath, target(), poster, options(batch)); }
    std::uint64_t logSize() const { return std::filesystem::file_size(logPath); }
};

template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds most = 5s) {
    const auto end = std::chrono::steady_clock::now() + most;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST_F(RecordSending, TheMarkMovesOnlyAfterTheCollectorsAcknowledgement) {
    const std::vector<std::string> ids = append(3);
    collector.answerWith([](const FakeCollector::Batch&) { return FakeCollector::Reply{503, R"({"error":"database unavailable"})"}; });
    SendReport report = sendNow();
    EXPECT_EQ(report.ending, SendReport::Ending::Unreachable);
    EXPECT_NE(report.reason.find("database unavailable"), std::string::npos) << report.reason;
    EXPECT_EQ(report.waiting, 3u);
    EXPECT_EQ(readSentMark(logPath), 0u);

    collector.answerWith({});
    report = sendNow();
    EXPECT_EQ(report.ending, SendReport::Ending::Done) << report.reason;
    EXPECT_EQ(report.sentLines, 3u);
    EXPECT_EQ(report.waiting, 0u);
    EXPECT_EQ(readSentMark(logPath), logSize());
    EXPECT_EQ(collector.acknowledgedIds(), ids);
    ASSERT_EQ(collector.batches().size(), 2u);
    EXPECT_EQ(collector.batches()[1].token, "line3-token");
    EXPECT_EQ(waitingRecordLines(logPath), 0u);

    // Later lines go on from the mark.
    const std::vector<std::string> more = append(2);
    EXPECT_EQ(waitingRecordLines(logPath), 2u);
    EXPECT_EQ(sendNow().sentLines, 2u);
    ASSERT_EQ(collector.batches().size(), 3u);
    EXPECT_EQ(collector.batches()[2].recordIds, more);
}

TEST_F(RecordSending, BatchesKeepToTheirBoundsOldestFirst) {
    const std::vector<std::string> ids = append(12);
    SendOptions o = options(5);
    EXPECT_EQ(sendWaitingRecords(logPath, target(), poster, o).sentLines, 12u);
    std::vector<std::size_t> sizes;
    for (const auto& batch : collector.batches()) sizes.push_back(batch.recordIds.size());
    EXPECT_EQ(sizes, (std::vector<std::size_t>{5, 5, 2}));
    EXPECT_EQ(collector.acknowledgedIds(), ids);

    // A body bound of about two records' JSON.
    append(3);
    o.batchBytes = collector.batches()[2].body.size() + 10;
    EXPECT_EQ(sendWaitingRecords(logPath, target(), poster, o).sentLines, 3u);
    for (std::size_t i = 3; i < collector.batches().size(); ++i) EXPECT_LE(collector.batches()[i].body.size(), o.batchBytes);
    EXPECT_EQ(collector.batches().size(), 5u);
}

TEST_F(RecordSending, AnUnendedLastLineWaitsUntilItEnds) {
    append(1);
    const std::string whole = folder.read("upgrades.csv");
    // A line cut short by the power going: its rest never comes.
    std::string cut = whole.substr(whole.find('\n') + 1);
    cut = cut.substr(0, cut.size() / 2);
    folder.write("upgrades.csv", whole + cut);
    EXPECT_EQ(waitingRecordLines(logPath), 1u);
    EXPECT_EQ(sendNow().sentLines, 1u);
    EXPECT_EQ(readSentMark(logPath), whole.size());
    // The next append starts on a line of its own; the piece is passed over.
    const std::vector<std::string> next = append(1);
    EXPECT_EQ(waitingRecordLines(logPath), 2u);
    const SendReport report = sendNow();
    EXPECT_EQ(report.passedOver, 1u);
    EXPECT_EQ(report.waiting, 0u);
    EXPECT_EQ(collector.batches().back().recordIds, next);
}

TEST_F(RecordSending, ALogCutShorterThanItsMarkIsSentFromItsStart) {
    append(4);
    ASSERT_EQ(sendNow().sentLines, 4u);
    // Saved anew by a spreadsheet with the first line only, then one more line.
    const std::string whole = folder.read("upgrades.csv");
    std::size_t secondLine = whole.find('\n', whole.find('\n') + 1) + 1;
    folder.write("upgrades.csv", whole.substr(0, secondLine));
    const std::string first = collector.acknowledgedIds()[0];
    const std::vector<std::string> later = append(1);
    ASSERT_LT(logSize(), readSentMark(logPath));
    const SendReport report = sendNow();
    EXPECT_EQ(report.sentLines, 2u);
    EXPECT_EQ(collector.batches().back().recordIds, (std::vector<std::string>{first, later[0]}));
    ASSERT_FALSE(told.empty());
    EXPECT_NE(told[0].find("sent again from its start"), std::string::npos) << told[0];
    EXPECT_EQ(readSentMark(logPath), logSize());
}

TEST_F(RecordSending, ALineTheCollectorRefusesAloneIsPassedOverAndTheRestGoOut) {
    const std::vector<std::string> ids = append(9);
    const std::string refused = ids[6];
    collector.answerWith([refused](const FakeCollector::Batch& batch) {
        const bool bad = std::count(batch.recordIds.begin(), batch.recordIds.end(), refused) > 0;
        return bad ? FakeCollector::Reply{400, R"({"error":"record 1: time is not a time"})"} : FakeCollector::Reply{};
    });
    const SendReport report = sendNow(4);
    EXPECT_EQ(report.ending, SendReport::Ending::Done) << report.reason;
    EXPECT_EQ(report.passedOver, 1u);
    std::vector<std::string> others = ids;
    others.erase(others.begin() + 6);
    EXPECT_EQ(collector.acknowledgedIds(), others);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(refused), std::string::npos) << told[0];
    EXPECT_NE(told[0].find("time is not a time"), std::string::npos) << told[0];
    EXPECT_EQ(readSentMark(logPath), logSize());
}

TEST_F(RecordSending, ConflictsAreToldAndTheBatchCountsAsSent) {
    const std::vector<std::string> ids = append(2);
    collector.answerWith([&](const FakeCollector::Batch&) {
        return FakeCollector::Reply{200, R"({"stored":1,"duplicates":0,"conflicts":[{"record_id":")" + ids[1] +
                                             R"(","outcome":"completed"}]})"};
    });
    const SendReport report = sendNow();
    EXPECT_EQ(report.conflicts, 1u);
    EXPECT_EQ(report.stored, 1u);
    EXPECT_EQ(report.waiting, 0u);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("conflict: record " + ids[1]), std::string::npos) << told[0];
}

TEST_F(RecordSending, AnUnknownTokenStopsThePassAndNothingIsPassedOver) {
    append(2);
    collector.answerWith([](const FakeCollector::Batch&) { return FakeCollector::Reply{401, R"({"error":"unknown token"})"}; });
    const SendReport report = sendNow();
    EXPECT_EQ(report.ending, SendReport::Ending::Refused);
    EXPECT_NE(report.reason.find("unknown token"), std::string::npos) << report.reason;
    EXPECT_EQ(report.waiting, 2u);
    EXPECT_EQ(readSentMark(logPath), 0u);
}

TEST_F(RecordSending, TwoSendersOnOneLogNeverPostTheSameStretch) {
    append(30);
    collector.delayAnswers(50ms);
    std::atomic<int> busy{0};
    const auto sender = [&] {
        HttpPoster own;
        for (int pass = 0; pass < 200 && waitingRecordLines(logPath) > 0; ++pass) {
            if (sendWaitingRecords(logPath, target(), own, options(3)).ending == SendReport::Ending::Busy) {
                ++busy;
                std::this_thread::sleep_for(2ms);
            }
        }
    };
    // The second starts while the first sends (ten batches, 50 ms each).
    std::thread a(sender);
    EXPECT_TRUE(eventually([&] { return collector.requestsCome() > 0; }));
    std::thread b(sender);
    a.join();
    b.join();
    const std::vector<std::string> ids = collector.acknowledgedIds();
    EXPECT_EQ(ids.size(), 30u);
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size());
    EXPECT_GT(busy.load(), 0); // they did meet at the lock
}

TEST_F(RecordSending, ACollectorDownThenUpGetsEveryWaitingLineOnce) {
    collector.down();
    std::atomic<std::size_t> shown{999};
    RecordSender::Setup setup;
    setup.logPath = logPath;
    setup.target = target();
    setup.onWaiting = [&](std::size_t waiting) { shown = waiting; };
    setup.tell = [](const std::string&) {};
    setup.send.requestBound = 2s;
    setup.firstRetry = 20ms;
    setup.longestRetry = 100ms;
    RecordSender sender(setup);
    ASSERT_TRUE(eventually([&] { return shown == 0; }));

    log.onWritten([&] { sender.wake(); });
    std::vector<std::string> ids = append(3);
    ASSERT_TRUE(eventually([&] { return shown == 3; }));
    EXPECT_NE(sender.problem().find("no answer"), std::string::npos) << sender.problem();
    // A program ending now gives up at the first failed try.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(sender.finish(5s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);

    collector.up();
    const std::vector<std::string> more = append(2);
    ids.insert(ids.end(), more.begin(), more.end());
    ASSERT_TRUE(eventually([&] { return shown == 0; }));
    EXPECT_EQ(collector.acknowledgedIds(), ids);
    EXPECT_TRUE(sender.problem().empty());
    EXPECT_TRUE(sender.finish(1s));
}

TEST_F(RecordSending, StoppingEndsARequestUnderWayAtOnce) {
    append(1);
    collector.delayAnswers(1500ms);
    RecordSender::Setup setup;
    setup.logPath = logPath;
    setup.target = target();
    setup.tell = [](const std::string&) {};
    auto sender = std::make_unique<RecordSender>(setup);
    std::this_thread::sleep_for(300ms); // the request is under way
    const auto before = std::chrono::steady_clock::now();
    sender.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_EQ(readSentMark(logPath), 0u);
}

TEST(HttpPost, TheWholeRequestIsBounded) {
    FakeCollector slow;
    slow.delayAnswers(1s);
    HttpPoster poster;
    HttpPostRequest request;
    request.url = slow.address() + "/records";
    request.body = "{\"records\":[]}";
    request.wholeBound = 200ms;
    const auto before = std::chrono::steady_clock::now();
    const HttpPostAnswer answer = poster.post(request);
    EXPECT_EQ(answer.status, 0);
    EXPECT_FALSE(answer.error.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - before, 800ms);
}

} // namespace
} // namespace mub
