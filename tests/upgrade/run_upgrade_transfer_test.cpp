// The begin exchange, the block transfer with its failure limits, and the
// completion report.
#include "tests/upgrade/upgrade_fixture.h"
#include "upgrade/number_text.h"

#include <optional>

namespace mub::test {
namespace {

const Bytes EndOfImage{0x04, 0x00, 0x00, 0x00};
const std::string LinkLossPane = "设备被拔出或其他错误！！！请重新插拔USB线，然后打开机器电源。\r\n点击升级或连续按钮按钮重新升级";
const std::string LinkLossBox = "设备被拔出或其他错误！！！请重新插拔USB连接线，然后打开机器电源。\r\n点击升级或连续按钮按钮重新升级";

using Transfer = UpgradeFixture;

// Replies to block packets from a list, then accepts.
auto replies(std::vector<std::optional<std::uint8_t>> list) {
    return [list](std::size_t k, const Bytes& packet) -> std::optional<std::uint8_t> {
        if (k < list.size()) return list[k];
        return ScriptedMachine::wellFormed(packet) ? 0x06 : 0x15;
    };
}

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST_F(Transfer, WholeImageInNumberedBlocksWithProgressAndCompletion) {
    EXPECT_TRUE(run());
    EXPECT_EQ(report.outcome, UpgradeOutcome::Completed);
    // Begin, three identity frames, eight blocks, the end mark.
    ASSERT_EQ(machine.writes.size(), 1u + 3u + 8u + 1u);
    EXPECT_EQ(machine.writes.front(), Bytes{0x5E});
    EXPECT_EQ(machine.identityFrames,
              (std::vector<Bytes>{buildFrame(std::string_view("AB12")), buildFrame(std::string_view("HW-A")),
                                  buildFrame(std::string_view("2.0"))}));
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(machine.blockPackets[i][1], i + 1);
    EXPECT_EQ(machine.writes.back(), EndOfImage);
    EXPECT_EQ(machine.stored, file.image);

    // "C" shows the bar at 0, then one position per block, then 100.
    EXPECT_EQ(ui.progressHistory, (std::vector<int>{0, 0, 11, 22, 33, 44, 55, 66, 77, 100}));
    EXPECT_FALSE(ui.progressVisible);
    EXPECT_FALSE(ui.percentVisible);
    EXPECT_TRUE(ui.clockRunning);
    EXPECT_EQ(ui.percentText, "77%");
    EXPECT_EQ(ui.fieldText(Field::Count), "1");
    EXPECT_EQ(ui.tones, (std::vector<std::pair<int, int>>{{500, 500}}));
    EXPECT_FALSE(ui.isEnabled(Control::UpgradeButton));
    EXPECT_FALSE(ui.isEnabled(Control::DetectModelButton));

    const std::string pane = utf8(ui.pane());
    EXPECT_EQ(pane.find("开始更新...\r\n更新中！请稍等...\r\n升级完成！\r\n耗时:"), 0u) << pane;
    EXPECT_EQ(pane.substr(pane.size() - 5), "秒\r\n");
    EXPECT_TRUE(ui.errorBoxes.empty());
}

TEST_F(Transfer, TheViewsHearOfTheProgressOnlyWhenItsPositionChanges) {
    file.image = patternImage(300 * 128); // 300 blocks, 100 positions
    EXPECT_TRUE(run());
    EXPECT_EQ(machine.stored, file.image);
    // "C" (0), each position 0..99 once, then 100 at the completion.
    ASSERT_EQ(ui.progressHistory.size(), 1u + 100u + 1u);
    for (std::size_t i = 1; i + 1 < ui.progressHistory.size(); ++i)
        EXPECT_EQ(ui.progressHistory[i], static_cast<int>(i - 1));
    EXPECT_EQ(ui.progressHistory.back(), 100);
}

TEST_F(Transfer, ElapsedTimeAndCounterUseTheNumberFormats) {
    ui.pumpDelay(50'000'000); // the tick count is far from zero when the run starts
    ui.setFieldText(Field::Count, "9999999999");
    machine.blockReply = [this](std::size_t, const Bytes&) -> std::optional<std::uint8_t> {
        ui.pumpDelay(187'500); // 8 blocks: 1.5 s in all
        return 0x06;
    };
    EXPECT_TRUE(run());
    EXPECT_EQ(ui.fieldText(Field::Count), "10000000000");
    EXPECT_GE(report.elapsedMs, 1500u);
    EXPECT_LT(report.elapsedMs, 1510u);
    EXPECT_NE(ui.pane().find(gbk("耗时:") + numberText(report.elapsedMs / 1000.0) + gbk("秒")), std::string::npos);

    ui.setFieldText(Field::Count, "");
    machine = ScriptedMachine();
    link.running = true;
    EXPECT_TRUE(run());
    EXPECT_EQ(ui.fieldText(Field::Count), "1");
}

TEST_F(Transfer, WithoutReadyTheElapsedTimeCountsFromTheBeginCommand) {
    ui.pumpDelay(50'000'000);
    machine.requestIdentity = false;
    machine.sendReady = false;
    EXPECT_TRUE(run());
    // Two seconds of handshake time-out, then the blocks; not the 50 s before.
    EXPECT_GE(report.elapsedMs, 2000u);
    EXPECT_LT(report.elapsedMs, 2100u);
    EXPECT_EQ(machine.stored, file.image);
    EXPECT_EQ(ui.progressHistory.size(), 8u + 1u); // no "C": no position 0 from the handshake
}

TEST_F(Transfer, EachIdentityRequestGivesTheMachineTwoSecondsMore) {
    // The machine asks at its own pace, each request 1.5 s after the one
    // before (the first 1.5 s after the begin command), then says "C" a
    // little before two seconds after its last request, or a little after.
    for (const std::int64_t readyAfterLast : {1'900'000, 2'100'000}) {
        SCOPED_TRACE(readyAfterLast);
        ui.onPump = nullptr;
        ui.pumpDelay(10'000'000); // the tick count is far from zero when the run starts
        machine = ScriptedMachine();
        machine.requestIdentity = false;
        machine.sendReady = false;
        machine.followFrames = false;
        link.running = true;
        std::int64_t begun = -1;
        std::size_t said = 0;
        const std::vector<std::pair<std::int64_t, std::uint8_t>> script = {
            {1'500'000, 'M'}, {3'000'000, 'P'}, {4'500'000, 'F'}, {4'500'000 + readyAfterLast, 'C'}};
        ui.onPump = [&] {
            if (begun < 0) {
                begun = ui.virtualMicros();
                return;
            }
            if (said < script.size() && ui.virtualMicros() - begun >= script[said].first)
                machine.say(Bytes{script[said++].second});
        };
        EXPECT_TRUE(run());
        // Every request was answered: none came two seconds after the last.
        EXPECT_EQ(machine.identityFrames,
                  (std::vector<Bytes>{buildFrame(std::string_view("AB12")), buildFrame(std::string_view("HW-A")),
                                      buildFrame(std::string_view("2.0"))}));
        EXPECT_EQ(machine.stored, file.image);
        if (readyAfterLast < 2'000'000) {
            // Ready heard: the time counts from it, the bar started at 0.
            EXPECT_LT(report.elapsedMs, 100u);
            EXPECT_EQ(ui.progressHistory.front(), 0);
        } else {
            // Two seconds of silence after "F" ended the wait: the time counts
            // from the begin command.
            EXPECT_GE(report.elapsedMs, 6500u);
            EXPECT_LT(report.elapsedMs, 6600u);
        }
        ui.progressHistory.clear();
    }
}

TEST_F(Transfer, ShortLastBlockIsPaddedAndTheStoredImageMatches) {
    file.image = patternImage(200);
    EXPECT_TRUE(run());
    ASSERT_EQ(machine.blockPackets.size(), 2u);
    EXPECT_TRUE(std::equal(file.image.begin(), file.image.end(), machine.stored.begin()));
    EXPECT_TRUE(std::all_of(machine.stored.begin() + 200, machine.stored.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(ScriptedMachine::wellFormed(machine.blockPackets[1]));
}

TEST_F(Transfer, EveryResendGetsANewNumberAndTheSameData) {
    machine.blockReply = replies({0x06, 0x15, 0x15});
    EXPECT_TRUE(run());
    ASSERT_EQ(machine.blockPackets.size(), 10u);
    for (std::size_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(machine.blockPackets[i][1], i + 1);
        EXPECT_TRUE(std::equal(machine.blockPackets[1].begin() + 3, machine.blockPackets[1].end(),
                               machine.blockPackets[i].begin() + 3));
    }
    EXPECT_EQ(machine.stored, file.image);
    EXPECT_EQ(report.totalFailures, 2u);
}

TEST_F(Transfer, BlockNumbersWrapPast255) {
    file.image = patternImage(300 * 128);
    EXPECT_TRUE(run());
    ASSERT_EQ(machine.blockPackets.size(), 300u);
    EXPECT_EQ(machine.blockPackets[254][1], 0xFF);
    EXPECT_EQ(machine.blockPackets[254][2], 0x00);
    EXPECT_EQ(machine.blockPackets[255][1], 0x00);
    EXPECT_EQ(machine.blockPackets[255][2], 0xFF);
    EXPECT_EQ(machine.blockPackets[299][1], 300 % 256);
    EXPECT_EQ(machine.stored, file.image);
}

TEST_F(Transfer, FourRejectionsInARowFail) {
    machine.blockReply = replies({0x06, 0x15, 0x15, 0x15, 0x15});
    EXPECT_FALSE(run());
    EXPECT_EQ(report.outcome, UpgradeOutcome::TooManyFailures);
    EXPECT_EQ(ui.pane(), gbk("升级失败！！！通讯超时。"));
    EXPECT_EQ(ui.errorBoxes, std::vector<std::string>{gbk("升级失败！！！通讯超时。")});
    EXPECT_EQ(machine.blockPackets.size(), 5u);
    EXPECT_EQ(writesOf(EndOfImage), 0u);
    EXPECT_LT(report.quietMs, 100u); // it answered to the end
}

TEST_F(Transfer, TheEleventhFailureOfARunEndsIt) {
    // Ten failures spread so that no four come in a row: the run completes.
    const std::optional<std::uint8_t> R = 0x15, A = 0x06;
    machine.blockReply = replies({R, R, R, A, R, R, R, A, R, R, R, A, R, A});
    EXPECT_TRUE(run());
    EXPECT_EQ(report.totalFailures, 10u);

    machine = ScriptedMachine();
    machine.blockReply = replies({R, R, R, A, R, R, R, A, R, R, R, A, R, R});
    link.running = true;
    ui.errorBoxes.clear();
    EXPECT_FALSE(run());
    EXPECT_EQ(report.outcome, UpgradeOutcome::TooManyFailures);
    EXPECT_EQ(report.totalFailures, 11u);
    EXPECT_EQ(machine.blockPackets.size(), 14u);
}

TEST_F(Transfer, SilentMachineTimesOutFourTimesThenFails) {
    machine.blockReply = [](std::size_t, const Bytes&) { return std::nullopt; };
    const std::int64_t before = ui.virtualMicros();
    EXPECT_FALSE(run());
    EXPECT_EQ(report.outcome, UpgradeOutcome::TooManyFailures);
    EXPECT_EQ(ui.pane(), gbk("升级失败！！！通讯超时。"));
    EXPECT_EQ(machine.blockPackets.size(), 4u);
    EXPECT_EQ(machine.clearCalls, 4); // the device buffer is cleared after every time-out
    const std::int64_t waited = ui.virtualMicros() - before;
    EXPECT_GE(waited, 4'000'000);
    EXPECT_LT(waited, 4'100'000);
    // Silent since its last acknowledgement, before the first block.
    EXPECT_GE(report.quietMs, 4000u);
}

TEST_F(Transfer, TimeOutIsAnnouncedAndTheBlockSentAgain) {
    machine.blockReply = replies({std::nullopt, std::nullopt});
    EXPECT_TRUE(run());
    EXPECT_EQ(count(ui.pane(), gbk("通讯超时！重发数据！\r\n")), 2u);
    EXPECT_EQ(machine.blockPackets.size(), 10u);
    EXPECT_EQ(machine.stored, file.image);
}

TEST_F(Transfer, FailedSendReportsLinkLoss) {
    // After 8 blocks only the end mark fails: the image is not complete either.
    for (long after : {0L, 3L, 8L}) {
        machine = ScriptedMachine();
        machine.disconnectAfterBlocks = after;
        ui.errorBoxes.clear();
        link.running = true;
        EXPECT_FALSE(run());
        EXPECT_EQ(report.outcome, UpgradeOutcome::LinkLost);
        EXPECT_EQ(ui.pane(), gbk(LinkLossPane));
        EXPECT_EQ(ui.errorBoxes, std::vector<std::string>{gbk(LinkLossBox)});
        EXPECT_EQ(machine.stored.size(), static_cast<std::size_t>(after) * 128);
        EXPECT_EQ(ui.fieldText(Field::Count), "0");
    }
}

TEST_F(Transfer, FailedBeginReportsLinkLossBeforeAnyBlock) {
    machine.disconnectAfterBlocks = 0; // every write fails, the begin byte first
    EXPECT_FALSE(run());
    EXPECT_EQ(report.outcome, UpgradeOutcome::LinkLost);
    EXPECT_EQ(machine.writes, std::vector<Bytes>{Bytes{0x5E}});
    EXPECT_EQ(ui.errorBoxes, std::vector<std::string>{gbk(LinkLossBox)});

    // What the port told of it follows on a line of its own.
    const std::string driverText = gbk("串口驱动无响应：PurgeComm 超过 1000 毫秒未返回，已放弃该串口。请拔下USB线重新插入。");
    transport.faultText = driverText;
    ui.errorBoxes.clear();
    link.running = true;
    EXPECT_FALSE(run());
    EXPECT_EQ(ui.pane(), gbk(LinkLossPane) + "\r\n" + driverText);
    EXPECT_EQ(ui.errorBoxes, std::vector<std::string>{gbk(LinkLossBox) + "\r\n" + driverText});
}

TEST_F(Transfer, StopDuringTheTransferReleasesTheLinkWithoutFailureText) {
    file.image = patternImage(64 * 128);
    ui.onPump = [this] {
        if (machine.blockPackets.size() == 5) link.running = false;
    };
    EXPECT_FALSE(run());
    EXPECT_EQ(report.outcome, UpgradeOutcome::Stopped);
    EXPECT_EQ(machine.disconnectCalls, 1);
    EXPECT_TRUE(ui.errorBoxes.empty());
    EXPECT_EQ(writesOf(EndOfImage), 0u);
    EXPECT_LE(machine.blockPackets.size(), 6u);
    EXPECT_EQ(ui.fieldText(Field::Count), "0");
}

TEST_F(Transfer, StopWhileWaitingForAReplyIsNoTimeOut) {
    // The window's Stop writes its text first; the run adds nothing after it.
    machine.blockReply = replies({0x06, std::nullopt});
    ui.onPump = [this] {
        if (machine.blockPackets.size() == 2 && ui.virtualMicros() > 500'000 && link.running) {
            ui.setMessage(gbk("升级被停止！"));
            link.running = false;
        }
    };
    EXPECT_FALSE(run());
    EXPECT_EQ(report.outcome, UpgradeOutcome::Stopped);
    EXPECT_EQ(ui.pane(), gbk("升级被停止！"));
    EXPECT_EQ(report.timeouts, 0u);
    EXPECT_EQ(machine.blockPackets.size(), 2u);
}

} // namespace
} // namespace mub::test
