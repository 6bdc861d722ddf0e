// Start-up of the window logic: the states and texts it sets, the settings
// it reads, the single instance, the bridge-library check, the clock text.
#include "tests/window/window_fixture.h"

#include "app/clock_text.h"
#include "link/bridge_binding.h"
#include "link/machine_link.h"
#include "platform/gbk_text.h"

#include <fstream>
#include <iterator>

namespace mub::test {
namespace {

using WindowStartup = WindowFixture;

TEST_F(WindowStartup, FirstStartWritesDefaultsAndShowsTheIdleWindow) {
    window.clockRunning = false;
    window.progressVisible = window.percentVisible = true;
    ASSERT_TRUE(start());

    EXPECT_EQ(window.claimedName, gbk("Korvan升级工具v1.0--生产专用"));
    EXPECT_EQ(window.title(), gbk("Korvan升级工具v1.0--生产专用"));
    EXPECT_EQ(window.statusText[0], "Marrowind");
    EXPECT_TRUE(window.clockRunning);
    EXPECT_EQ(window.selectedBaudText(), "57600");
    EXPECT_EQ(window.fieldText(Field::Count), "0");
    EXPECT_EQ(bridgeTransport(), nullptr);
    EXPECT_EQ(logic.link()->portName, "COM1");
    EXPECT_FALSE(logic.upgradeFile().loaded);
    EXPECT_TRUE(window.hotKeyRegistered);

    EXPECT_FALSE(window.isEnabled(Control::UpgradeButton));
    EXPECT_TRUE(window.isEnabled(Control::DetectModelButton));
    EXPECT_TRUE(window.isEnabled(Control::OpenFileButton));
    EXPECT_TRUE(window.isEnabled(Control::BaudRateList));
    EXPECT_EQ(window.caption(Control::UpgradeButton), gbk("升级(F8)"));
    EXPECT_FALSE(window.progressVisible);
    EXPECT_FALSE(window.percentVisible);
    EXPECT_EQ(window.percentText, "100%");
    EXPECT_TRUE(window.boxes.empty());

    EXPECT_EQ(stored("Port", "Port"), "COM1");
    EXPECT_EQ(stored("Port", "BaudRate"), "57600");
    EXPECT_EQ(stored("History", "FilePath"), "");
    EXPECT_EQ(stored("ImportHistory", "Count"), "0");
    // No file path stored: the open dialog starts in the program folder.
    EXPECT_EQ(window.openDialogFolder, folder.root());
}

TEST_F(WindowStartup, StoredSettingsAreShown) {
    writeSettings("[Port]\r\nPort=usb\r\nBaudRate=1\r\n[History]\r\nFilePath=/data/fw/new.mub\r\n"
                  "[ImportHistory]\r\nCount=abc\r\n");
    ASSERT_TRUE(start());
    // Lower-case usb is a COM port name: no library check, no box.
    EXPECT_EQ(bridgeTransport(), nullptr);
    EXPECT_EQ(logic.link()->portName, "usb");
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_EQ(window.selectedBaudText(), "19200");
    EXPECT_EQ(window.fieldText(Field::Count), "abc");
    EXPECT_EQ(window.openDialogFolder, "/data/fw");
}

// Another program holds F8: the program runs on and says so once, in the
// pane, without a box.
TEST_F(WindowStartup, RefusedHotKeyIsToldInThePane) {
    window.hotKeyAvailable = false;
    ASSERT_TRUE(start());
    EXPECT_NE(utf8(window.pane()).find("热键F8已被其他程序占用"), std::string::npos) << utf8(window.pane());
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(WindowStartup, SecondCopyEndsBeforeTouchingAnything) {
    window.firstCopy = false;
    EXPECT_FALSE(start());
    EXPECT_EQ(logic.exitCode(), 0);
    EXPECT_FALSE(folder.exists("cfg.ini"));
    EXPECT_FALSE(window.hotKeyRegistered);
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(WindowStartup, UsbModeWithoutBridgeLibraryEndsAfterTheBox) {
    writeSettings("[Port]\r\nPort=USB\r\nBaudRate=57600\r\n[ImportHistory]\r\nCount=3\r\n");
    // A later copy asking while the box is up does not bring up the window
    // that is never to be shown.
    window.onBox = [&] { logic.onActivationRequested(); };
    EXPECT_FALSE(start());
    EXPECT_EQ(logic.exitCode(), 0);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].title, gbk("Korvan升级工具v1.0--生产专用"));
    EXPECT_EQ(window.boxes[0].text,
              gbk("无法启动此程序，因为该计算机中丢失") + bridgeLibraryFileName() + gbk("文件！请重新安装该程序。"));
    EXPECT_EQ(window.boxes[0].icon, BoxIcon::Error);
    EXPECT_FALSE(window.boxes[0].yesNo);
    EXPECT_EQ(window.broughtToFront, 0);
    EXPECT_FALSE(window.hotKeyRegistered);
}

// A file that is not a library (or of the wrong width, or without a
// function) is refused with its own reason, and the program ends.
TEST_F(WindowStartup, UsbModeWithAnUnusableBridgeLibraryEndsAfterItsBox) {
    writeSettings("[Port]\r\nPort=USB\r\nBaudRate=57600\r\n[ImportHistory]\r\nCount=3\r\n");
    folder.write(bridgeLibraryFileName(), "not a library");
    BridgeBinding probe;
    ASSERT_FALSE(probe.load(folder.path(bridgeLibraryFileName())));
    EXPECT_FALSE(start());
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, probe.operatorText());
    EXPECT_NE(utf8(window.boxes[0].text).find(bridgeLibraryFileName()), std::string::npos);
    EXPECT_EQ(window.boxes[0].icon, BoxIcon::Error);
    EXPECT_FALSE(window.hotKeyRegistered);
}

TEST_F(WindowStartup, UsbModeWithBridgeLibraryStartsAndALaterCopyBringsItToFront) {
    writeSettings("[Port]\r\nPort=USB\r\nBaudRate=57600\r\n[ImportHistory]\r\nCount=3\r\n");
    // The stand-in library built beside the test program.
    std::ifstream standIn(programDirectory() + bridgeLibraryFileName(), std::ios::binary);
    folder.write(bridgeLibraryFileName(), std::string(std::istreambuf_iterator<char>(standIn), {}));
    ASSERT_TRUE(start());
    EXPECT_TRUE(window.boxes.empty());
    ASSERT_NE(bridgeTransport(), nullptr);
    EXPECT_EQ(window.fieldText(Field::Count), "3");
    const BridgeParams& params = bridgeTransport()->params();
    EXPECT_EQ(params.words[0], 0x0E6Au);
    EXPECT_EQ(params.words[1], 0x0103u);
    EXPECT_EQ(params.words[2], 1000u);
    EXPECT_EQ(params.words[3], 1000u);
    logic.onActivationRequested();
    EXPECT_EQ(window.broughtToFront, 1);
}

TEST(ClockText, IsRightAlignedInTwentyFiveBytes) {
    std::tm morning{};
    morning.tm_year = 2013 - 1900;
    morning.tm_mon = 4;
    morning.tm_mday = 3;
    morning.tm_hour = 9;
    EXPECT_EQ(clockText(morning), std::string(7, ' ') + gbk("2013年5月3日9时0分"));
    std::tm lastMinute{};
    lastMinute.tm_year = 2013 - 1900;
    lastMinute.tm_mon = 11;
    lastMinute.tm_mday = 31;
    lastMinute.tm_hour = 23;
    lastMinute.tm_min = 59;
    EXPECT_EQ(clockText(lastMinute), std::string(3, ' ') + gbk("2013年12月31日23时59分"));
    EXPECT_EQ(clockTextNow().size(), 25u);
}

} // namespace
} // namespace mub::test
