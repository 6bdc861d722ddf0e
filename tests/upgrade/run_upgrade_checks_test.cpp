// The identity and version checks before the begin command, and what the
// machine receives when the run declines.
#include "link/protocol.h"
#include "tests/upgrade/upgrade_fixture.h"

namespace mub::test {
namespace {

const Bytes Reject{Cancel};

class IdentityChecks : public UpgradeFixture {
protected:
    void expectRefused(const char* utf8Text, UpgradeOutcome outcome) {
        EXPECT_FALSE(run());
        EXPECT_EQ(report.outcome, outcome);
        EXPECT_EQ(ui.pane(), gbk(utf8Text));
        ASSERT_EQ(ui.errorBoxes.size(), 1u);
        EXPECT_EQ(ui.errorBoxes[0], gbk(utf8Text));
        EXPECT_EQ(machine.writes, std::vector<Bytes>{Reject});
    }
};

TEST_F(IdentityChecks, HardwareIsComparedExactlyEvenOnTheProductionLine) {
    identity.hardware = "hw-a";
    expectRefused("硬件版本不匹配！请选择正确的文件。", UpgradeOutcome::HardwareMismatch);
}

TEST_F(IdentityChecks, ModelMismatchIsRefusedOnlyWithoutTheProductionMark) {
    identity.model = "AB13";
    ui.windowTitle = strictTitle();
    expectRefused("型号不匹配！请选择正确的文件。", UpgradeOutcome::ModelMismatch);
}

TEST_F(IdentityChecks, ProductionTitleLetsModelMismatchAndOlderFileThroughUnasked) {
    identity.model = "AB13";
    identity.software = "3.0";
    EXPECT_TRUE(run());
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_EQ(machine.stored, file.image);
}

TEST_F(IdentityChecks, EmptyImageIsRefusedBeforeTheBeginCommand) {
    file.image.clear();
    identity.model = "ZeZada"; // not even this model skips it
    expectRefused("升级文件中没有固件数据！请选择正确的文件。", UpgradeOutcome::EmptyImage);
}

TEST_F(IdentityChecks, ZeZadaSkipsEveryCheck) {
    ui.windowTitle = strictTitle();
    identity.model = "ZeZada";
    identity.hardware = "other";
    identity.software = "2.0";
    EXPECT_TRUE(run());
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_TRUE(ui.errorBoxes.empty());
}

TEST_F(IdentityChecks, SameVersionAsksAndNoDeclinesWithReject) {
    ui.windowTitle = strictTitle();
    identity.software = "2.0";
    ui.answers = {false};
    EXPECT_FALSE(run());
    EXPECT_EQ(report.outcome, UpgradeOutcome::SameVersionDeclined);
    ASSERT_EQ(ui.questions.size(), 1u); // the older-file question is not asked too
    EXPECT_EQ(ui.questions[0], gbk("软件版本相同,是否继续更新！“是”继续，“否”不更新。"));
    EXPECT_EQ(ui.pane(), gbk("软件版本相同！您取消了本次更新。"));
    EXPECT_TRUE(ui.errorBoxes.empty());
    EXPECT_EQ(machine.writes, std::vector<Bytes>{Reject});
}

TEST_F(IdentityChecks, OlderFileAsksAndNoDeclines) {
    ui.windowTitle = strictTitle();
    identity.software = "1.9";
    file.softwareVersion = "1.10"; // read as 1.1: older than 1.9
    ui.answers = {false};
    EXPECT_FALSE(run());
    EXPECT_EQ(report.outcome, UpgradeOutcome::OlderVersionDeclined);
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0], gbk("升级文件是旧版本，是否继续更新！“是”继续，“否”不更新"));
    EXPECT_EQ(ui.pane(), gbk("升级文件是旧版本！您取消了本次更新。"));
    EXPECT_EQ(machine.writes, std::vector<Bytes>{Reject});
}

TEST_F(IdentityChecks, NumbersDecideNotDottedVersions) {
    ui.windowTitle = strictTitle();
    identity.software = "1.10";
    file.softwareVersion = "1.9"; // newer as a number
    EXPECT_TRUE(run());
    identity.software = "1.0";
    file.softwareVersion = "1.00"; // different texts, same number
    machine = ScriptedMachine();
    link.running = true;
    EXPECT_TRUE(run());
    EXPECT_TRUE(ui.questions.empty());
}

TEST_F(IdentityChecks, AStopBeforeTheBeginCommandSendsNothing) {
    // A Stop handled while a question box was open leaves the flag clear:
    // the checks ask nothing more and the machine is not put into upgrade mode.
    ui.windowTitle = strictTitle();
    identity.software = "2.0";
    link.running = false;
    EXPECT_FALSE(run());
    EXPECT_EQ(report.outcome, UpgradeOutcome::Stopped);
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_TRUE(machine.writes.empty());
}

} // namespace
} // namespace mub::test
