// The session every front end runs: what it tells, in order, for an upgrade
// and a model check; Stop nested in its waits; its upgrade log lines.
#include "tests/support/temp_folder.h"
#include "tests/upgrade/upgrade_fixture.h"
#include "upgrade/upgrade_session.h"

#include <fstream>
#include <sstream>

namespace mub::test {
namespace {

using K = SessionEventKind;

// The kinds told, a run of Progress or BlockAcknowledged events as one.
class KindRecorder : public SessionObserver {
public:
    explicit KindRecorder(Waits& waits) : waits_(waits) {}
    void on(const SessionEvent& event) override {
        const bool repeated = (event.kind == K::Progress || event.kind == K::BlockAcknowledged) && !kinds.empty() &&
                              (kinds.back() == K::Progress || kinds.back() == K::BlockAcknowledged);
        if (!repeated) kinds.push_back(event.kind);
        if (event.kind == K::Progress) lastPosition = event.position;
        if (event.kind == K::Tone) waits_.pumpDelay(event.milliseconds * 1000);
        if (onEvent) onEvent(event);
    }
    std::vector<K> kinds;
    int lastPosition = -1;
    std::function<void(const SessionEvent&)> onEvent;

private:
    Waits& waits_;
};

class Session : public ::testing::Test {
protected:
    Session() : log(upgradeLogPathIn(folder.root())) {
        file.modelId = "AB12";
        file.hardwareVersion = "HW-A";
        file.softwareVersion = "2.0";
        file.image = patternImage(1024);
        file.loaded = true;
        file.path = "/fw/a.mub";
        options.baudIndex = 5;
        options.counter = [] { return std::string("41"); };
    }
    LinkChoice usb() {
        LinkChoice choice;
        choice.usb = true;
        choice.bridge = &machine;
        return choice;
    }
    SessionLog sessionLog() {
        SessionLog l;
        l.log = &log;
        l.describe = [](UpgradeLogEntry& entry) { entry.program = "test"; };
        return l;
    }
    std::vector<std::string> logLines() {
        std::ifstream in(log.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(text, line)) lines.push_back(line);
        if (!lines.empty()) lines.erase(lines.begin()); // the header
        return lines;
    }

    TempFolder folder;
    UpgradeLog log;
    FakeUi ui{FakeUi::Clock::Virtual};
    KindRecorder events{ui};
    ScriptedMachine machine;
    UpgradeFile file;
    SessionOptions options;
};

TEST_F(Session, AnUpgradeTellsEachStepInTheWindowsOrderAndLogsOnce) {
    UpgradeSession session(ui, usb(), events, sessionLog());
    SessionEvent counter(K::Counter);
    events.onEvent = [&](const SessionEvent& e) {
        if (e.kind == K::Counter) counter = e;
    };
    const std::optional<SessionResult> result = session.upgrade(file, options);
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->completed);
    EXPECT_STREQ(result->ending.outcome, "completed");
    EXPECT_EQ(events.kinds,
              (std::vector<K>{K::UpgradeStarted, K::ConnectBegun, K::MachineFound, K::LinkConfirmed, K::IdentityField,
                              K::IdentityField, K::IdentityField, K::InfoRead, K::Tone, K::Identified, K::UpdateBegun,
                              K::MachineReady, K::TransferBegun, K::Progress, K::Completed, K::Counter, K::Tone,
                              K::DisplayRestored, K::UpgradeFinished}));
    EXPECT_EQ(events.lastPosition, 77); // truncate(7 * 100 / 9): the bar stays below 100 until the end
    EXPECT_EQ(counter.value, "42");
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"test\",\"USB\",\"/fw/a.mub\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"completed\",0,8,8,"), std::string::npos) << lines[0];
    EXPECT_FALSE(session.link().running);
}

TEST_F(Session, StopDuringTheTransferReleasesAtOnceAndIgnoresPressesUntilTheRunHasUnwound) {
    UpgradeSession session(ui, usb(), events, sessionLog());
    bool stopped = false;
    std::optional<SessionResult> nested;
    machine.blockReply = [&](std::size_t k, const Bytes&) -> std::optional<std::uint8_t> {
        if (k == 3 && !stopped) {
            stopped = true;
            session.stopUpgrade();
            EXPECT_FALSE(session.link().running);
            EXPECT_EQ(events.kinds.back(), K::UpgradeFinished);
            // F8 held down: the run further out has not returned yet.
            nested = session.upgrade(file, options);
        }
        return 0x06;
    };
    const std::optional<SessionResult> result = session.upgrade(file, options);
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(nested.has_value());
    EXPECT_TRUE(result->stopped);
    EXPECT_FALSE(result->completed);
    EXPECT_STREQ(result->ending.outcome, "stopped");
    EXPECT_EQ(std::count(events.kinds.begin(), events.kinds.end(), K::UpgradeStopped), 1);
    EXPECT_EQ(std::count(events.kinds.begin(), events.kinds.end(), K::UpgradeFinished), 2);
    EXPECT_EQ(events.kinds.back(), K::UpgradeFinished);
    EXPECT_EQ(logLines().size(), 1u);
    // Unwound: the next press starts an upgrade again.
    machine.blockReply = nullptr;
    EXPECT_TRUE(session.upgrade(file, options).has_value());
}

TEST_F(Session, ACheckIsStoppedByItsSecondCallAndEndsIdleTwice) {
    machine.connectStatus = StatusNoDevice;
    UpgradeSession session(ui, usb(), events, sessionLog());
    bool clicked = false;
    ui.onPump = [&] {
        if (!clicked && ui.virtualMicros() > 5'000) {
            clicked = true;
            EXPECT_TRUE(session.checking());
            EXPECT_FALSE(session.upgrade(file, options).has_value()); // the check holds the link
            EXPECT_FALSE(session.check(options, true).has_value());   // the second click
        }
    };
    const std::optional<SessionResult> result = session.check(options, true);
    ASSERT_TRUE(result.has_value());
    EXPECT_STREQ(result->ending.outcome, "stopped");
    EXPECT_EQ(events.kinds.front(), K::CheckStarted);
    EXPECT_EQ(std::count(events.kinds.begin(), events.kinds.end(), K::CheckStopped), 1);
    EXPECT_EQ(std::count(events.kinds.begin(), events.kinds.end(), K::CheckFinished), 2);
    EXPECT_EQ(std::count(machine.writes.begin(), machine.writes.end(), Bytes{0x18}), 2);
    EXPECT_EQ(logLines().size(), 1u); // the stop is no operation of its own
    EXPECT_FALSE(session.checking());
}

TEST_F(Session, AFailedLogIsToldOnceAndTheOperationGoesOn) {
    UpgradeLog blocked(upgradeLogPathIn(folder.path("missing/folder")));
    SessionLog l;
    l.log = &blocked;
    UpgradeSession session(ui, usb(), events, l);
    EXPECT_TRUE(session.check(options, true)->machine.has_value());
    EXPECT_TRUE(session.upgrade(file, options)->completed);
    EXPECT_EQ(std::count(events.kinds.begin(), events.kinds.end(), K::LogFailed), 1);
}

} // namespace
} // namespace mub::test
