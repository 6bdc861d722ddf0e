// The loop of one station port over a scripted machine: machines one after
// another, the check after the restart, the count shared by the ports, and
// machines that fail; each with its line in the upgrade log and its record
// in the station's model.
#include "platform/gbk_text.h"
#include "station/station_port.h"
#include "tests/support/temp_folder.h"
#include "upgrade/upgrade_ending.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <thread>

namespace mub {
namespace {

using Kind = PortMachine::Found::Kind;

MachineInfo machineWith(const std::string& software) { return {"QM-3000", "HW-1.0", software}; }

class ScriptedPort : public PortMachine {
public:
    std::deque<Found> arrivals;                     // then the station stops
    std::deque<Upgraded> upgrades;                  // none left: completed
    std::deque<std::optional<MachineInfo>> answers; // to checks; then no answer
    int released = 0, upgraded = 0, checks = 0;
    std::function<void()> onCheck;

    void arrive(Kind kind = Kind::Machine, const std::string& failure = {}) {
        Found f;
        f.kind = kind;
        f.machine = machineWith("1.00");
        f.failureText = failure;
        f.foundAt = Clock::now();
        arrivals.push_back(f);
    }
    Found waitForMachine() override {
        if (arrivals.empty()) {
            stop_ = true;
            return {};
        }
        Found f = arrivals.front();
        arrivals.pop_front();
        return f;
    }
    Upgraded upgrade(const MachineInfo&) override {
        ++upgraded;
        Upgraded u;
        u.completed = true;
        u.report.outcome = UpgradeOutcome::Completed;
        u.report.blocksDone = 8;
        u.report.elapsedMs = 1500;
        if (!upgrades.empty()) {
            u = upgrades.front();
            upgrades.pop_front();
        }
        return u;
    }
    std::optional<MachineInfo> check(Clock::duration) override {
        ++checks;
        if (onCheck) onCheck();
        if (answers.empty()) return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void release() override { ++released; }
    bool stopping() const override { return stop_; }
    // A check's second is a few milliseconds here.
    void pause(Clock::duration) override { std::this_thread::sleep_for(std::chrono::milliseconds(3)); }

private:
    bool stop_ = false;
};

class StationPortLoop : public ::testing::Test {
protected:
    StationPortLoop() : log(upgradeLogPathIn(folder.root())) {
        file.path = "/fw/a.mub";
        file.modelId = "QM-3000";
        file.hardwareVersion = "HW-1.0";
        file.softwareVersion = "1.01";
        file.image = Bytes(1024, 0x5A);
        file.loaded = true;
    }

    // Runs the ports, one after another, with a fresh model and log; returns
    // the log's lines without the header, each split into its fields.
    std::vector<std::vector<std::string>> run(std::vector<ScriptedPort*> ports, bool verify = false) {
        std::filesystem::remove(folder.path(upgradeLogFileName));
        std::vector<std::string> names;
        for (std::size_t i = 0; i < ports.size(); ++i) names.push_back("port" + std::to_string(i));
        StationModel model(names);
        StationSlots slots(count);
        StationJob job;
        job.file = &file;
        job.verify = verify;
        job.comeBack = std::chrono::milliseconds(30);
        job.log = &log;
        job.model = &model;
        job.machineSlots = &slots;
        for (std::size_t i = 0; i < ports.size(); ++i) runStationPort(i, names[i], *ports[i], job);
        totals = model.totals();
        for (StationModel::Finished& f : model.takeNews().finished) finished.push_back(f);
        allFinished = slots.allFinished();

        std::vector<std::vector<std::string>> lines;
        std::string text = folder.read(upgradeLogFileName);
        std::size_t at = text.find("\r\n");
        while (at != std::string::npos && at + 2 < text.size()) {
            const std::size_t end = text.find("\r\n", at + 2);
            std::vector<std::string> fields{""};
            for (char c : text.substr(at + 2, end - at - 2)) {
                if (c == ',') fields.emplace_back();
                else if (c != '"') fields.back() += c;
            }
            lines.push_back(fields);
            at = end;
        }
        return lines;
    }

    test::TempFolder folder;
    UpgradeLog log;
    long long count = 0; // machines the station takes; 0: no limit
    bool allFinished = false;
    UpgradeFile file;
    std::vector<StationModel::Finished> finished; // of every run, in order
    StationModel::Totals totals;
};

// Columns of a log line.
enum { Port = 3, File = 4, SoftwareBefore = 9, SoftwareAfter = 10, Outcome = 11, ExitCode = 12, Blocks = 13, RecordId = 19 };

TEST_F(StationPortLoop, MachinesOneAfterAnotherEachWaitedOutUntilItHasGone) {
    ScriptedPort port;
    port.arrive();
    port.arrive();
    // After each upgrade: back after its restart, still there once, then gone.
    port.answers = {machineWith("1.01"), machineWith("1.01"), std::nullopt};
    const auto lines = run({&port});
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& line : lines) {
        EXPECT_EQ(line[Port], "port0");
        EXPECT_EQ(line[File], "/fw/a.mub");
        EXPECT_EQ(line[Outcome], "completed");
        EXPECT_EQ(line[ExitCode], "0");
        EXPECT_EQ(line[Blocks], "8");
        EXPECT_EQ(line[SoftwareAfter], ""); // not checked without --verify
    }
    EXPECT_EQ(port.upgraded, 2);
    EXPECT_EQ(totals.done, 2);
    EXPECT_EQ(totals.failed, 0);
}

std::deque<std::optional<MachineInfo>> times(int n, const std::optional<MachineInfo>& answer) {
    return std::deque<std::optional<MachineInfo>>(static_cast<std::size_t>(n), answer);
}

TEST_F(StationPortLoop, WhatAMachineSaysAfterItsUpgradeDecidesItsSecondLineAndTheNextMachine) {
    const MachineInfo older{"QM-3000", "HW-1.0", "0.90"}; // another machine not yet upgraded
    struct Row {
        const char* name;
        bool verify;
        int arrivals;
        std::deque<std::optional<MachineInfo>> answers;
        std::vector<std::string> outcomes; // of the log's lines, in order
        int upgrades;
        long long done, failed;
    } rows[] = {
        {"back", true, 1, {machineWith("1.01")}, {"completed", "verified"}, 1, 1, 0},
        {"never back", true, 1, {}, {"completed", "unverified"}, 1, 1, 0},
        // Another identity answers: a new machine, upgraded at once.
        {"swapped", true, 2, {older}, {"completed", "unverified", "completed", "unverified"}, 2, 2, 0},
        {"swapped, no verify", false, 2, {older}, {"completed", "completed"}, 2, 2, 0},
        // Its identity as before: upgraded once more; a fresh machine of the
        // same kind then comes back, one whose upgrade does not take is
        // failed when the time is up, and waited for until it has gone.
        {"same kind", true, 2, {machineWith("1.00"), machineWith("1.01")},
         {"completed", "unverified", "completed", "verified"}, 2, 2, 0},
        {"does not take", false, 2, times(40, machineWith("1.00")), {"completed", "completed", "verify-mismatch"}, 2,
         1, 1},
        {"does not take, verify", true, 2, times(40, machineWith("1.00")),
         {"completed", "unverified", "completed", "verify-mismatch"}, 2, 1, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedPort port;
        for (int i = 0; i < row.arrivals; ++i) port.arrive();
        port.answers = row.answers;
        const auto lines = run({&port}, row.verify);
        std::vector<std::string> outcomes;
        for (const auto& line : lines) outcomes.push_back(line[Outcome]);
        EXPECT_EQ(outcomes, row.outcomes);
        EXPECT_EQ(port.upgraded, row.upgrades);
        EXPECT_EQ(totals.done, row.done);
        EXPECT_EQ(totals.failed, row.failed);
        EXPECT_TRUE(port.answers.empty()) << "a failed machine is waited for until it has gone";
        // A second line carries its upgrade's record id and what the machine
        // reported; every upgrade has an id of its own.
        for (std::size_t i = 1; i < lines.size(); ++i) {
            const bool second = lines[i][Outcome] != "completed";
            EXPECT_EQ(lines[i][RecordId] == lines[i - 1][RecordId], second) << i;
        }
    }
    EXPECT_EQ(finished[1].entry.outcome, "verified");
    EXPECT_EQ(finished[1].entry.softwareAfter, "1.01");
    EXPECT_TRUE(finished[1].second);
    EXPECT_DOUBLE_EQ(finished[1].transferSeconds, 1.5);
}

TEST_F(StationPortLoop, ACompletedUpgradeIsLoggedBeforeTheMachineIsAskedAgain) {
    ScriptedPort port;
    port.arrive();
    std::vector<std::size_t> linesAtCheck;
    port.onCheck = [&] { linesAtCheck.push_back(folder.read(upgradeLogFileName).size()); };
    const auto lines = run({&port}, true);
    ASSERT_EQ(lines.size(), 2u);
    ASSERT_FALSE(linesAtCheck.empty());
    // The header and the completed line were on the disk at the first check.
    const std::string text = folder.read(upgradeLogFileName);
    EXPECT_EQ(linesAtCheck.front(), text.find("\r\n", text.find("\r\n") + 2) + 2);
}

TEST_F(StationPortLoop, TheCountIsSharedAndAMachineBeyondItIsLeftAlone) {
    count = 1;
    ScriptedPort first, second;
    first.arrive();
    first.arrive();
    second.arrive();
    const auto lines = run({&first, &second});
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(first.upgraded, 1);
    EXPECT_EQ(first.arrivals.size(), 1u) << "the port went on after the count";
    EXPECT_EQ(second.upgraded, 0);
    EXPECT_EQ(second.released, 1);
    EXPECT_TRUE(allFinished);
}

TEST_F(StationPortLoop, AMachineSwappedWithoutASilenceIsTakenForANewOneByItsIdentity) {
    // Back as 1.01 after its restart, then one not yet upgraded answers in
    // its place: the port asks no more.
    ScriptedPort swapped;
    swapped.arrive();
    swapped.answers = {machineWith("1.01"), machineWith("1.01"), machineWith("1.00"), machineWith("1.00")};
    // Refused, it goes on answering as before until it is taken away.
    ScriptedPort refusedPort;
    refusedPort.arrive();
    PortMachine::Upgraded refused;
    refused.report.outcome = UpgradeOutcome::HardwareMismatch;
    refusedPort.upgrades = {refused};
    refusedPort.answers = {machineWith("1.00"), machineWith("1.00"), std::nullopt, machineWith("1.00")};
    run({&swapped, &refusedPort});
    EXPECT_EQ(swapped.checks, 3);
    EXPECT_EQ(refusedPort.checks, 3);
}

TEST_F(StationPortLoop, AMachineSilentAtTheEndOfItsFailedRunHasGoneAndTheNextIsTakenAtOnce) {
    // It vanished in the middle of a block: four time-outs, 4 s without a
    // byte. The next one, of the same identity, is there by the port's
    // next look and answers every check until it is upgraded.
    ScriptedPort vanished;
    vanished.arrive();
    vanished.arrive();
    PortMachine::Upgraded silent;
    silent.report.outcome = UpgradeOutcome::TooManyFailures;
    silent.report.blocksDone = 3;
    silent.report.quietMs = 4000;
    vanished.upgrades = {silent};
    vanished.answers = times(5, machineWith("1.00"));
    int checksBetween = 0;
    vanished.onCheck = [&] { checksBetween += vanished.upgraded == 1; };
    // One that still answered at its end (it refused blocks) is waited out.
    ScriptedPort refusing;
    refusing.arrive();
    PortMachine::Upgraded rejected;
    rejected.report.outcome = UpgradeOutcome::TooManyFailures;
    rejected.report.quietMs = 20;
    refusing.upgrades = {rejected};
    refusing.answers = {machineWith("1.00"), std::nullopt};
    const auto lines = run({&vanished, &refusing});
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0][Outcome], "too-many-failures");
    EXPECT_EQ(lines[1][Outcome], "completed");
    EXPECT_EQ(vanished.upgraded, 2);
    EXPECT_EQ(checksBetween, 0);
    EXPECT_EQ(refusing.checks, 2);
}

TEST_F(StationPortLoop, MachinesThatFailAreLoggedWithTheirOutcome) {
    ScriptedPort port;
    port.arrive(Kind::Unidentified, gbk("机器信息读取失败！"));
    port.arrive();
    port.arrive();
    PortMachine::Upgraded refused;
    refused.report.outcome = UpgradeOutcome::HardwareMismatch;
    PortMachine::Upgraded stopped;
    stopped.stopped = true;
    stopped.report.outcome = UpgradeOutcome::Stopped;
    stopped.report.blocksDone = 3;
    port.upgrades = {refused, stopped};
    const auto lines = run({&port});
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0][Outcome], "not-connected");
    EXPECT_EQ(lines[0][ExitCode], "6");
    EXPECT_EQ(lines[1][Outcome], "hardware-mismatch");
    EXPECT_EQ(lines[1][ExitCode], "5");
    EXPECT_EQ(lines[2][Outcome], "stopped");
    EXPECT_EQ(lines[2][ExitCode], "9");
    EXPECT_EQ(lines[2][Blocks], "3");
    EXPECT_EQ(totals.failed, 3);
    // A failed machine is not checked after a restart: only until it has gone.
    EXPECT_EQ(port.upgraded, 2);
}

} // namespace
} // namespace mub
