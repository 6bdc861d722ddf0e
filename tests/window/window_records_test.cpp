// The window's records sender ([Records] of cfg.ini) against a fake
// collector: the status bar tells how many lines wait, and without a
// collector nothing is sent and nothing changes.
#include "tests/window/window_fixture.h"

#include "app/main_layout.h"
#include "records/record_sender.h"
#include "tests/support/fake_collector.h"
#include "tests/support/simulator_process.h"

#include <chrono>
#include <thread>

namespace mub::test {
namespace {

class WindowRecords : public WindowFixture {
protected:
    FakeCollector collector;
    std::unique_ptr<SimulatorProcess> machine = std::make_unique<SimulatorProcess>();

    void writeSettingsWith(const std::string& records) {
        ASSERT_TRUE(machine->started());
        writeSettings("[Port]\r\nPort=COM1\r\nBaudRate=57600\r\n[History]\r\nFilePath=\r\n[ImportHistory]\r\nCount=0\r\n"
                      "[Ports]\r\nCOM1=" + machine->path() + "\r\n" + records);
    }
    // The window's event loop, until the status bar's part 0 shows `text`.
    bool statusShows(const std::string& text) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            window.runPosted();
            if (window.statusText[0] == text) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

TEST_F(WindowRecords, TheStatusBarTellsTheLinesThatWaitUntilTheCollectorTakesThem) {
    collector.down();
    writeSettingsWith("[Records]\r\nSendTo=" + collector.address() + "\r\nToken=window-token\r\n");
    ASSERT_TRUE(start());
    ASSERT_NE(logic.recordSender(), nullptr);
    logic.command(IdDetectModelButton);
    logic.command(IdDetectModelButton);
    EXPECT_TRUE(statusShows(waitingRecordsText(2))) << window.statusText[0];

    collector.up();
    EXPECT_TRUE(statusShows("Marrowind")) << window.statusText[0];
    const auto batches = collector.batches();
    ASSERT_FALSE(batches.empty());
    EXPECT_EQ(batches.back().token, "window-token");
    EXPECT_EQ(collector.acknowledgedIds().size(), 2u);
}

TEST_F(WindowRecords, WithoutACollectorNothingIsSent) {
    writeSettingsWith("");
    const std::string before = folder.read("cfg.ini");
    ASSERT_TRUE(start());
    EXPECT_EQ(logic.recordSender(), nullptr);
    logic.command(IdDetectModelButton);
    EXPECT_EQ(window.statusText[0], "Marrowind");
    EXPECT_FALSE(folder.exists("upgrades.csv.sent"));
    EXPECT_FALSE(folder.exists("upgrades.csv.send-lock"));
    EXPECT_EQ(folder.read("cfg.ini"), before);
    EXPECT_TRUE(collector.batches().empty());
}

} // namespace
} // namespace mub::test
