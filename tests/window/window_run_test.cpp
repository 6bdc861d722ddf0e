// Runs driven through the window logic against the simulated machine on a
// pseudo-terminal: Upgrade/Stop states while connecting and transferring,
// F8, the model check and its Stop, 清零 during a run, a full upgrade that
// counts, also through the bridge library.
#include "tests/window/window_fixture.h"

#include "app/main_layout.h"
#include "link/machine_link.h"
#include "platform/gbk_text.h"
#include "tests/support/simulator_process.h"

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace mub::test {
namespace {

class WindowRun : public WindowFixture {
protected:
    std::unique_ptr<SimulatorProcess> machine;

    // A started window whose COM1 is the simulated machine, with a file loaded.
    void startAgainst(const std::vector<std::string>& machineOptions, const std::string& count = "0",
                      std::size_t imageBytes = 4096) {
        machine = std::make_unique<SimulatorProcess>(machineOptions);
        ASSERT_TRUE(machine->started());
        writeSettings("[Port]\r\nPort=COM1\r\nBaudRate=57600\r\n[History]\r\nFilePath=\r\n[ImportHistory]\r\nCount=" +
                      count + "\r\n[Ports]\r\nCOM1=" + machine->path() + "\r\n");
        ASSERT_TRUE(start());
        openFile(imageBytes);
    }

    void openFile(std::size_t imageBytes = 4096) {
        window.openFileChoices.push_back(writeUpgradeFile("fw.mub", imageBytes));
        logic.openUpgradeFileCommand();
        ASSERT_TRUE(logic.upgradeFile().loaded);
    }

    // Runs `action` once from inside the run's waits, when `when` first holds.
    void during(std::function<bool()> when, std::function<void()> action) {
        window.onPump = [this, fired = false, when = std::move(when), action = std::move(action)]() mutable {
            if (fired || !when()) return;
            fired = true;
            action();
        };
    }

    bool running() const { return logic.link()->running.load(); }
    bool transferring() const { return window.progressVisible && window.progressPosition >= 10; }
    bool paneHas(const char* text) const { return window.pane().find(gbk(text)) != std::string::npos; }

    void expectIdleAfterRun() {
        EXPECT_EQ(window.caption(Control::UpgradeButton), gbk("升级(F8)"));
        EXPECT_FALSE(running());
        for (Control c : {Control::OpenFileButton, Control::BaudRateList, Control::DetectModelButton,
                          Control::UpgradeButton})
            EXPECT_TRUE(window.isEnabled(c));
        EXPECT_FALSE(window.progressVisible);
        EXPECT_FALSE(window.percentVisible);
        EXPECT_TRUE(window.clockRunning);
        EXPECT_EQ(window.focused, Control::UpgradeButton);
        EXPECT_FALSE(serialPortOpen());
    }
};

TEST_F(WindowRun, FullUpgradeCountsAndIsStoredAtClose) {
    ASSERT_NO_FATAL_FAILURE(startAgainst({}));
    bool sawConnecting = false;
    bool sawTransfer = false;
    during([&] { return running(); }, [&] {
        sawConnecting = window.caption(Control::UpgradeButton) == gbk("停止") &&
                        !window.isEnabled(Control::DetectModelButton) && !window.isEnabled(Control::OpenFileButton) &&
                        !window.isEnabled(Control::BaudRateList) && window.isEnabled(Control::UpgradeButton);
        during([&] { return transferring(); }, [&] {
            sawTransfer = window.caption(Control::UpgradeButton) == gbk("停止") &&
                          !window.isEnabled(Control::UpgradeButton) && !window.isEnabled(Control::DetectModelButton) &&
                          !window.clockRunning && window.percentVisible;
        });
    });
    logic.command(IdUpgradeButton);

    EXPECT_TRUE(sawConnecting);
    EXPECT_TRUE(sawTransfer);
    expectIdleAfterRun();
    EXPECT_EQ(window.fieldText(Field::Count), "1");
    EXPECT_EQ(window.fieldText(Field::MachineModel), "QM-3000");
    EXPECT_TRUE(paneHas("升级完成！\r\n耗时:")) << window.pane();
    EXPECT_TRUE(window.errorBoxes.empty());

    logic.saveSettingsAndExit();
    EXPECT_EQ(window.endedWith, std::optional<int>(0));
    EXPECT_EQ(stored("ImportHistory", "Count"), "1");
}

TEST_F(WindowRun, EveryUpgradeAndCheckIsLoggedAndALogThatCannotBeWrittenIsToldOnce) {
    ASSERT_NO_FATAL_FAILURE(startAgainst({}));
    EXPECT_EQ(logic.upgradeLogPath(), folder.path("upgrades.csv"));
    logic.command(IdUpgradeButton);
    logic.command(IdDetectModelButton);
    std::string log = folder.read("upgrades.csv");
    EXPECT_EQ(log.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(log.find("\"upgrader\",\"COM1\",\"" + folder.path("fw.mub") + "\""), std::string::npos) << log;
    EXPECT_NE(log.find("\"QM-3000\",\"HW-1.0\",\"1.00\",\"\",\"completed\",0,32,32,0,0,"), std::string::npos) << log;
    EXPECT_NE(log.find(",\"\",\"identified\",0,0,0,0,0,"), std::string::npos) << log;

    // A folder where the log should be: it cannot be written. The operator
    // is told once, after the run, and the upgrades go on.
    std::filesystem::rename(folder.path("upgrades.csv"), folder.path("kept.csv"));
    folder.makeFolder("upgrades.csv");
    logic.command(IdUpgradeButton);
    logic.command(IdUpgradeButton);
    EXPECT_EQ(window.fieldText(Field::Count), "3");
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].icon, BoxIcon::Warning);
    EXPECT_NE(utf8(window.boxes[0].text).find("无法写入升级记录文件"), std::string::npos);
    // Once it can be written again the lines kept come first.
    std::filesystem::remove(folder.path("upgrades.csv"));
    logic.command(IdDetectModelButton);
    log = folder.read("upgrades.csv");
    std::size_t lines = 0, completed = 0;
    for (char c : log) lines += c == '\n';
    for (auto at = log.find("\"completed\""); at != std::string::npos; at = log.find("\"completed\"", at + 1)) ++completed;
    EXPECT_EQ(lines, 4u) << log; // the header, the two upgrades kept, the check
    EXPECT_EQ(completed, 2u) << log;
    EXPECT_EQ(window.boxes.size(), 1u);
}

TEST_F(WindowRun, FullUpgradeThroughTheBridgeLibrary) {
    // The stand-in library beside the program reaches the simulated
    // machine's terminal named in its environment.
    std::filesystem::copy_file(SimulatorProcess::binDir() + "/libBridgeMini.so", folder.path("libBridgeMini.so"));
    machine = std::make_unique<SimulatorProcess>();
    ASSERT_TRUE(machine->started());
    ::setenv("BRIDGEMINI_DEVICE", machine->path().c_str(), 1);
    writeSettings("[Port]\r\nPort=USB\r\nBaudRate=57600\r\n[ImportHistory]\r\nCount=0\r\n");
    ASSERT_TRUE(start());
    ASSERT_NE(bridgeTransport(), nullptr);
    ASSERT_NO_FATAL_FAILURE(openFile());
    logic.toggleUpgrade();
    ::unsetenv("BRIDGEMINI_DEVICE");
    EXPECT_TRUE(paneHas("升级完成！")) << window.pane();
    EXPECT_EQ(window.fieldText(Field::Count), "1");
    expectIdleAfterRun();
}

TEST_F(WindowRun, StopWhileConnectingRestoresTheIdleWindow) {
    ASSERT_NO_FATAL_FAILURE(startAgainst({"--silent"}));
    const std::uint32_t started = window.tickCount();
    during([&] { return running() && window.tickCount() - started >= 200; }, [&] {
        logic.command(IdUpgradeButton); // reads 停止
    });
    logic.command(IdUpgradeButton);
    EXPECT_EQ(window.pane(), gbk("升级被停止！"));
    expectIdleAfterRun();
    EXPECT_EQ(window.fieldText(Field::Count), "0");
}

// F8 held down: the first repeat stops the run, and the presses that come
// while the stopped run unwinds start nothing (here they would start a run
// that completes and counts).
TEST_F(WindowRun, F8RepeatedWhileAStoppedRunUnwindsStartsNothing) {
    ASSERT_NO_FATAL_FAILURE(startAgainst({}));
    during([&] { return running(); }, [&] {
        logic.onUpgradeHotKey();
        EXPECT_FALSE(running());
        logic.onUpgradeHotKey();
        logic.onUpgradeHotKey();
        EXPECT_FALSE(running());
    });
    logic.onUpgradeHotKey();
    EXPECT_EQ(window.pane(), gbk("升级被停止！"));
    EXPECT_EQ(window.fieldText(Field::Count), "0");
    expectIdleAfterRun();
    // Once it has unwound, F8 starts a run again.
    window.onPump = nullptr;
    logic.onUpgradeHotKey();
    EXPECT_EQ(window.fieldText(Field::Count), "1");
}

TEST_F(WindowRun, F8WithoutALoadedFileDoesNothing) {
    writeSettings("[Port]\r\nPort=COM9\r\nBaudRate=57600\r\n[ImportHistory]\r\nCount=0\r\n");
    ASSERT_TRUE(start());
    logic.onUpgradeHotKey();
    EXPECT_FALSE(running());
    EXPECT_EQ(window.raised, 0);
    EXPECT_EQ(window.caption(Control::UpgradeButton), gbk("升级(F8)"));
    EXPECT_EQ(window.pane(), "");
}

TEST_F(WindowRun, ModelCheckFillsTheMachineFields) {
    ASSERT_NO_FATAL_FAILURE(startAgainst({"--software", "2.05"}));
    logic.command(IdDetectModelButton);
    EXPECT_EQ(window.fieldText(Field::MachineModel), "QM-3000");
    EXPECT_EQ(window.fieldText(Field::MachineHardware), "HW-1.0");
    EXPECT_EQ(window.fieldText(Field::MachineSoftware), "2.05");
    EXPECT_EQ(window.caption(Control::DetectModelButton), gbk("型号检测"));
    EXPECT_TRUE(window.isEnabled(Control::UpgradeButton));
    EXPECT_TRUE(window.isEnabled(Control::OpenFileButton));
    EXPECT_FALSE(running());
    EXPECT_EQ(window.fieldText(Field::Count), "0");
}

TEST_F(WindowRun, F8DuringAModelCheckLeavesTheCheckAlone) {
    // The model check owns the link until it ends; an upgrade started under
    // it would fight it for the machine's replies.
    ASSERT_NO_FATAL_FAILURE(startAgainst({"--software", "2.05"}));
    bool pressed = false;
    during([&] { return running(); }, [&] {
        pressed = true;
        logic.onUpgradeHotKey();
    });
    logic.command(IdDetectModelButton);
    EXPECT_TRUE(pressed);
    EXPECT_TRUE(window.errorBoxes.empty());
    EXPECT_EQ(window.fieldText(Field::MachineSoftware), "2.05");
    EXPECT_EQ(window.caption(Control::UpgradeButton), gbk("升级(F8)"));
    EXPECT_EQ(window.caption(Control::DetectModelButton), gbk("型号检测"));
    EXPECT_FALSE(running());
}

TEST_F(WindowRun, ModelCheckStopsOnItsSecondClick) {
    ASSERT_NO_FATAL_FAILURE(startAgainst({"--silent"}));
    bool disabledDuringCheck = false;
    during([&] { return running(); }, [&] {
        disabledDuringCheck = !window.isEnabled(Control::UpgradeButton) &&
                              window.caption(Control::DetectModelButton) == gbk("停止");
        logic.command(IdDetectModelButton);
    });
    logic.command(IdDetectModelButton);
    EXPECT_TRUE(disabledDuringCheck);
    EXPECT_EQ(window.pane(), gbk("型号检测被停止！"));
    EXPECT_EQ(window.caption(Control::DetectModelButton), gbk("型号检测"));
    EXPECT_EQ(window.fieldText(Field::MachineModel), "");
    EXPECT_TRUE(window.isEnabled(Control::UpgradeButton));
    EXPECT_FALSE(running());
}

TEST_F(WindowRun, ClearCountDuringARunCountsFromZero) {
    ASSERT_NO_FATAL_FAILURE(startAgainst({"--baud", "115200"}, "41", 8192));
    during([&] { return transferring(); }, [&] { logic.command(IdClearCountButton); });
    logic.command(IdUpgradeButton);
    EXPECT_TRUE(paneHas("升级完成！")) << window.pane();
    EXPECT_EQ(window.fieldText(Field::Count), "1");
}

} // namespace
} // namespace mub::test
