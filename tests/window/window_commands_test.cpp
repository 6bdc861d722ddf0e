// The commands of the buttons and the menu through the window logic: help,
// download, About, system information, 清零, the open command and closing.
#include "tests/window/window_fixture.h"

#include "app/main_layout.h"
#include "link/machine_link.h"
#include "platform/gbk_text.h"

namespace mub::test {
namespace {

class WindowCommands : public WindowFixture {
protected:
    void SetUp() override { ASSERT_TRUE(start()); }
};

TEST_F(WindowCommands, HelpShowsTheFourStepsWithoutIcon) {
    logic.command(MenuHelp);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].title, gbk("Tessaline帮助"));
    EXPECT_EQ(window.boxes[0].text, gbk("第一步：选择波特率。\r\n\r\n第二步：打开升级文件。\r\n\r\n第三步：用USB连接线将机器"
                                        "和电脑连接，打开机器电源。\r\n\r\n第四步：机器进入待机状态后，点击升级按钮。"));
    EXPECT_EQ(window.boxes[0].icon, BoxIcon::None);
    EXPECT_FALSE(window.boxes[0].yesNo);
}

TEST_F(WindowCommands, LanguageDoesNothing) {
    logic.command(MenuLanguage);
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_FALSE(window.endedWith.has_value());
    EXPECT_TRUE(window.aboutTitles.empty());
}

TEST_F(WindowCommands, DownloadOpensThePolicyPage) {
    logic.command(MenuDownload);
    ASSERT_EQ(window.openedAddresses.size(), 1u);
    const std::string& address = window.openedAddresses[0];
    EXPECT_EQ(address.rfind("http", 0), 0u);
    EXPECT_EQ(address.substr(address.size() - 11), "/policy.asp");
}

TEST_F(WindowCommands, AboutShowsTheTitleOfTheMoment) {
    window.windowTitle = "changed title";
    logic.command(MenuAbout);
    EXPECT_EQ(window.aboutTitles, std::vector<std::string>{"changed title"});
}

TEST_F(WindowCommands, SystemInfoWithoutProgramShowsBothErrorsInOrder) {
    logic.showSystemInfo();
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(window.boxes[0].title, gbk("错误"));
    EXPECT_EQ(window.boxes[0].text, gbk("错误 - 文件找不到..."));
    EXPECT_EQ(window.boxes[1].title, gbk("错误"));
    EXPECT_EQ(window.boxes[1].text, gbk("错误 - 注册表项找不到..."));
    EXPECT_EQ(window.boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(window.boxes[1].icon, BoxIcon::Error);
    EXPECT_TRUE(window.startedPrograms.empty());
}

TEST_F(WindowCommands, SystemInfoStartsTheProgramFound) {
    window.systemInfo = "/usr/bin/hardinfo";
    logic.showSystemInfo();
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_EQ(window.startedPrograms, std::vector<std::string>{"/usr/bin/hardinfo"});
}

TEST_F(WindowCommands, OpenLoadsTheFileAndTheNextStartOpensItsFolder) {
    window.setFieldText(Field::MachineHardware, "HW-OLD"); // read from a machine before
    const std::string path = writeUpgradeFile("good.mub");
    window.openFileChoices.push_back(path);
    logic.command(IdOpenFileButton);
    EXPECT_TRUE(logic.upgradeFile().loaded);
    EXPECT_EQ(window.fieldText(Field::FilePath), path);
    EXPECT_EQ(window.fieldText(Field::FileHardware), "HW-1.0");
    EXPECT_EQ(window.fieldText(Field::MachineHardware), "");
    EXPECT_TRUE(window.isEnabled(Control::UpgradeButton));
    EXPECT_EQ(window.focused, Control::UpgradeButton);
    EXPECT_EQ(window.pane(), gbk("文件读取成功。."));
    EXPECT_EQ(window.tones, (std::vector<std::pair<int, int>>{{1000, 500}}));
    EXPECT_EQ(stored("History", "FilePath"), path);

    // The menu item is the same command; a damaged file unloads the good one.
    std::string bytes = folder.read("good.mub");
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x5A);
    folder.write("damaged.mub", bytes);
    window.openFileChoices.push_back(folder.path("damaged.mub"));
    logic.command(MenuOpen);
    EXPECT_FALSE(logic.upgradeFile().loaded);
    EXPECT_FALSE(window.isEnabled(Control::UpgradeButton));
    EXPECT_EQ(window.errorBoxes, std::vector<std::string>{gbk("非法文件或文件损坏！！！\r\n请选择正确的文件。")});
    EXPECT_EQ(stored("History", "FilePath"), path);

    FakeWindow next;
    WindowLogic nextLogic(next, next);
    ASSERT_TRUE(nextLogic.start(folder.root()));
    EXPECT_EQ(next.openDialogFolder, folder.root());
    EXPECT_EQ(next.fieldText(Field::FilePath), ""); // nothing is loaded at start
}

TEST_F(WindowCommands, OpenIsRefusedWhileARunIsInProgress) {
    window.openFileChoices.push_back(writeUpgradeFile("good.mub"));
    logic.link()->running = true;
    logic.command(MenuOpen);
    EXPECT_FALSE(logic.upgradeFile().loaded);
    EXPECT_EQ(window.openDialogsShown, 0);
    logic.link()->running = false;
}

// A close or a Stop during a tone is handled in the tone's wait, not after it.
TEST(WindowTone, WaitsItsLengthWhileHandlingEvents) {
    FakeUi ui(FakeUi::Clock::Virtual);
    int pumps = 0;
    ui.onPump = [&] { ++pumps; };
    toneWhileHandlingEvents(ui, 5, 500); // below hearing: a silent wait on the tone's thread
    EXPECT_EQ(ui.virtualMicros(), 500'000);
    EXPECT_GT(pumps, 0);
}

TEST(WindowClose, ClearCountSetsZeroAndExitStoresIt) {
    TempFolder folder;
    folder.write("cfg.ini", "[Port]\r\nPort=COM5\r\nBaudRate=57600\r\n[History]\r\nFilePath=\r\n"
                            "[ImportHistory]\r\nCount=41\r\n");
    FakeWindow window;
    WindowLogic logic(window, window);
    ASSERT_TRUE(logic.start(folder.root()));
    EXPECT_EQ(window.fieldText(Field::Count), "41");
    logic.command(IdClearCountButton);
    EXPECT_EQ(window.fieldText(Field::Count), "0");
    logic.command(MenuExit);
    EXPECT_EQ(window.endedWith, std::optional<int>(0));
    EXPECT_EQ(readProfileString(folder.path("cfg.ini"), "ImportHistory", "Count"), "0");
    EXPECT_EQ(readProfileString(folder.path("cfg.ini"), "Port", "Port"), "COM5");
}

TEST_F(WindowFixture, ClosingWithoutChangesLeavesTheFileUntouched) {
    const std::string text = "; operator notes\r\n[Port]\r\nPort=COM2\r\nBaudRate=9600\r\n[History]\r\n"
                             "FilePath=\r\n[ImportHistory]\r\nCount=7\r\n";
    writeSettings(text);
    ASSERT_TRUE(start());
    logic.saveSettingsAndExit();
    EXPECT_EQ(window.endedWith, std::optional<int>(0));
    EXPECT_EQ(folder.read("cfg.ini"), text);
}

TEST_F(WindowFixture, CloseStoresChangedBaudRateAndPort) {
    ASSERT_TRUE(start());
    window.selectBaudRate(7);
    logic.link()->portName = "COM5"; // where the machine last answered
    logic.saveSettingsAndExit();
    EXPECT_EQ(stored("Port", "BaudRate"), "115200");
    EXPECT_EQ(stored("Port", "Port"), "COM5");
}

// Log-off: the question saves the changes, the end what changed since (a
// run that completed in between), and ends the process.
TEST_F(WindowFixture, SessionEndSavesAtTheQuestionAndAtTheEnd) {
    const std::string text = "[Port]\r\nPort=COM2\r\nBaudRate=9600\r\n[History]\r\nFilePath=\r\n"
                             "[ImportHistory]\r\nCount=7\r\n";
    writeSettings(text);
    ASSERT_TRUE(start());
    logic.sessionEnding();
    EXPECT_EQ(folder.read("cfg.ini"), text);
    logic.clearCount();
    logic.sessionEnding();
    EXPECT_EQ(stored("ImportHistory", "Count"), "0");
    EXPECT_FALSE(window.endedWith);

    window.setFieldText(Field::Count, "1");
    logic.sessionEnded();
    EXPECT_EQ(stored("ImportHistory", "Count"), "1");
    EXPECT_EQ(window.endedWith, std::optional<int>(0));
}

} // namespace
} // namespace mub::test
